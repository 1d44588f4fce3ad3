#include "command_runner.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace meter_host {

void Stopper::request() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (onStop_) onStop_();
}

bool Stopper::wait_until(std::chrono::steady_clock::time_point until) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_until(lock, until, [&] { return stop_.load() || reload_; }) && stop_;
}

void Stopper::request_reload() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reload_ = true;
  }
  cv_.notify_all();
}

bool Stopper::take_reload() {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool wanted = reload_;
  reload_ = false;
  return wanted;
}

namespace {

// Printable UTF-8: no control characters but line ends and tabs, and every
// multi-byte sequence well formed.
bool reads_as_text(const std::vector<unsigned char>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = bytes[i];
    if (c < 0x80) {
      if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) return false;
      continue;
    }
    const std::size_t more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
    if (more == 0 || c == 0xC0 || c == 0xC1 || i + more >= bytes.size()) return false;
    for (std::size_t k = 1; k <= more; ++k)
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
    i += more;
  }
  return true;
}

}  // namespace

std::string ioctl_line(int code, const IoctlOutcome& r) {
  std::string line = "ioctl " + std::to_string(code) + " result " + std::to_string(r.result) + ", " +
                     std::to_string(r.outLenRet) + " bytes";
  if (r.output.empty()) return line;
  const bool text = reads_as_text(r.output);
  std::string shown;
  if (text) {
    shown.assign(r.output.begin(), r.output.end());
    while (!shown.empty() && shown.back() == '\n') shown.pop_back();
    return line + ": " + shown;
  }
  char hex[4];
  for (unsigned char c : r.output) {
    std::snprintf(hex, sizeof hex, "%02x", c);
    shown += hex;
  }
  return line + ": 0x" + shown;
}

std::string snapshot_line(bool several, std::uint32_t dataId, const std::string& text) {
  return several ? std::to_string(dataId) + " " + text : text;
}

void CommandRunner::run(const Command& c) {
  std::size_t meter = 0;
  if (c.meter) {
    const auto found = session_.find(*c.meter);
    if (!found) {
      log_.line("no meter has data id " + std::to_string(*c.meter));
      return;
    }
    meter = *found;
  }
  switch (c.kind) {
    case CommandKind::empty:
      break;
    case CommandKind::snapshot: {
      std::string error;
      if (auto text = session_.snapshot(&error, meter))
        out_.line(snapshot_line(session_.meters() > 1, session_.data_id(meter), *text));
      else
        log_.line(error);
      break;
    }
    case CommandKind::write:
      out_.line("control result " + std::to_string(session_.write(c.write, meter)));
      break;
    case CommandKind::result:
      out_.line("control result " + std::to_string(session_.outcome(meter)));
      break;
    case CommandKind::ioctl:
      out_.line(ioctl_line(c.ioctl.code, session_.ioctl(c.ioctl.code, c.ioctl.input, meter)));
      break;
    case CommandKind::stats:
      out_.line(session_.stats().text());
      break;
    case CommandKind::quit:
      stopper_.request();
      break;
    case CommandKind::help:
      log_.line(command_help());
      break;
    case CommandKind::invalid:
      log_.line(c.error);
      break;
  }
}

void CommandThread::start() { thread_ = std::thread([this] { run(); }); }

void CommandThread::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void CommandThread::run() {
  std::string buffer;
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    const int rc = ::poll(&p, 1, 100);
    if (rc < 0 && errno != EINTR) return;
    if (rc <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      if (!buffer.empty()) runner_.run(parse_command(buffer));
      log_.detail("standard input closed: no more commands");
      return;
    }
    buffer.append(chunk, static_cast<std::size_t>(n));
    for (auto end = buffer.find('\n'); end != std::string::npos && !stop_; end = buffer.find('\n')) {
      const std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 1);
      runner_.run(parse_command(line));
    }
  }
}

}  // namespace meter_host
