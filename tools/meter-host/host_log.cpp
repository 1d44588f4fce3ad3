#include "host_log.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "posix_io.h"

namespace meter_host {

std::string log_bytes(const std::string& prefix, const std::string& text, Priority priority, bool journal) {
  std::string whole;
  if (!journal) {
    whole = prefix + text;
  } else {
    const std::string mark = "<" + std::to_string(static_cast<int>(priority)) + ">";
    whole.reserve(text.size() + mark.size());
    std::size_t start = 0;
    do {
      const std::size_t end = text.find('\n', start);
      whole += mark;
      whole.append(text, start, end == std::string::npos ? std::string::npos : end - start + 1);
      start = end == std::string::npos ? text.size() : end + 1;
    } while (start < text.size());
  }
  if (whole.empty() || whole.back() != '\n') whole += '\n';
  return whole;
}

namespace {

std::optional<unsigned long long> decimal(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  errno = 0;
  const unsigned long long n = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0) return std::nullopt;
  return n;
}

}  // namespace

std::optional<std::pair<unsigned long long, unsigned long long>> journal_stream(const char* text) {
  if (text == nullptr) return std::nullopt;
  const std::string s = text;
  const auto colon = s.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const auto device = decimal(s.substr(0, colon));
  const auto inode = decimal(s.substr(colon + 1));
  if (!device || !inode) return std::nullopt;
  return std::make_pair(*device, *inode);
}

bool is_journal_stream(int fd, const char* text) {
  const auto stream = journal_stream(text);
  struct stat st {};
  if (!stream || ::fstat(fd, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == stream->first &&
         static_cast<unsigned long long>(st.st_ino) == stream->second;
}

LineSink::LineSink(int fd, std::string prefix)
    : fd_(fd), prefix_(std::move(prefix)), journal_(is_journal_stream(fd, std::getenv("JOURNAL_STREAM"))) {}

void LineSink::line(Priority priority, const std::string& text) {
  const std::string whole = log_bytes(prefix_, text, priority, journal_);
  std::lock_guard<std::mutex> lock(mutex_);
  posix_io::write_all(fd_, whole.data(), whole.size());
}

void Log::lines(const std::string& text) {
  std::size_t from = 0;
  for (auto end = text.find('\n');; end = text.find('\n', from)) {
    line(text.substr(from, end == std::string::npos ? std::string::npos : end - from));
    if (end == std::string::npos) break;
    from = end + 1;
  }
}

}  // namespace meter_host
