#include "support/runs.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>


#include "acquisition/data_block.h"

namespace tools_test {

Collector::Collector(int fd) : fd_(fd) { thread_ = std::thread([this] { run(); }); }

Collector::~Collector() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  thread_.join();
}

void Collector::run() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) break;
    }
    pollfd p{fd_, POLLIN, 0};
    const int rc = ::poll(&p, 1, 50);
    if (rc < 0 && errno == EINTR) continue;
    if (rc == 0) continue;
    char chunk[4096];
    const ssize_t n = rc < 0 ? -1 : ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) break;
    text_.append(chunk, static_cast<std::size_t>(n));
    cv_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  cv_.notify_all();
}

std::size_t count_of(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

bool Collector::wait_for(const std::string& needle, std::chrono::milliseconds timeout, std::size_t times) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return count_of(text_, needle) >= times || ended_; }) &&
         count_of(text_, needle) >= times;
}

bool Collector::wait_end(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [&] { return ended_; });
}

std::string Collector::text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

std::vector<std::string> Collector::lines() const {
  std::vector<std::string> out;
  std::istringstream in(text());
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

HostRun::HostRun(const std::vector<std::string>& args) {
  std::vector<std::string> argv{METER_HOST_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  posix_io::SpawnOptions o;
  o.pipeStdin = o.pipeStdout = o.pipeStderr = true;
  std::string error;
  process_ = posix_io::Process::spawn(argv, o, &error);
  out_.emplace(process_.stdout_fd());
  err_.emplace(process_.stderr_fd());
}

void HostRun::send(const std::string& line) {
  const std::string whole = line + "\n";
  posix_io::write_all(process_.stdin_fd(), whole.data(), whole.size());
}

void HostRun::close_input() { process_.close_stdin(); }

int HostRun::wait(std::chrono::milliseconds timeout) {
  auto status = process_.wait(timeout);
  if (!status) {
    process_.terminate();
    status = -1;
  }
  out_->wait_end(kEventTimeout);
  err_->wait_end(kEventTimeout);
  return *status;
}

Finished run_host(const std::vector<std::string>& args) {
  HostRun run(args);
  run.close_input();
  Finished f;
  f.status = run.wait();
  f.out = run.out_lines();
  f.err = run.err_text();
  return f;
}

SimRun::SimRun(const std::vector<std::string>& args) {
  std::vector<std::string> argv{METER_SIM_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  posix_io::SpawnOptions o;
  o.pipeStdout = o.pipeStderr = true;
  std::string error;
  process_ = posix_io::Process::spawn(argv, o, &error);
  err_.emplace(process_.stderr_fd());
  posix_io::LineReader reader(process_.stdout_fd());
  path_ = reader.read_line(posix_io::Clock::now() + kEventTimeout).value_or("");
}

void SimRun::release() { ::kill(process_.pid(), SIGUSR1); }

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void write_image(const std::string& path, const std::map<unsigned, std::uint16_t>& image) {
  std::string text = "{";
  for (const auto& [reg, value] : image) {
    if (text.size() > 1) text += ",";
    text += "\"" + std::to_string(reg) + "\":" + std::to_string(value);
  }
  write_text(path, text + "}");
}

std::vector<Json::Value> snapshots(const std::vector<std::string>& lines) {
  std::vector<Json::Value> out;
  for (const std::string& line : lines)
    if (!line.empty() && line[0] == '{') out.push_back(parse_json(line));
  return out;
}

std::vector<unsigned char> expected_block(const std::map<unsigned, std::uint16_t>& image, std::uint32_t dataId,
                                          const std::string& updateTime) {
  std::vector<unsigned char> block(kvrm::kBlockSize, 0);
  std::memcpy(block.data(), &dataId, sizeof dataId);
  for (const auto& [reg, value] : image) kvrm::write_uint16(block.data(), kvrm::register_offset(reg), value);
  unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (std::sscanf(updateTime.c_str(), "%u-%u-%u %u:%u:%u", &y, &mo, &d, &h, &mi, &s) == 6) {
    kvrm::write_uint16(block.data(), kvrm::kTimeOffset, static_cast<std::uint16_t>(y));
    const unsigned rest[] = {mo, d, h, mi, s};
    for (int i = 0; i < 5; ++i) block[kvrm::kTimeOffset + 2 + i] = static_cast<unsigned char>(rest[i]);
  }
  return block;
}

bool sanitizer_report(const std::string& err) {
  return err.find("ThreadSanitizer") != std::string::npos || err.find("AddressSanitizer") != std::string::npos ||
         err.find("runtime error:") != std::string::npos || err.find("LeakSanitizer") != std::string::npos;
}

}  // namespace tools_test
