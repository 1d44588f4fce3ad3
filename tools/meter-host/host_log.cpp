#include "host_log.h"

#include "posix_io.h"

namespace meter_host {

void LineSink::line(const std::string& text) {
  std::string whole = prefix_ + text;
  if (whole.empty() || whole.back() != '\n') whole += '\n';
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
