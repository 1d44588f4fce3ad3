#include "host_log.h"

#include "posix_io.h"

namespace meter_host {

void LineSink::line(const std::string& text) {
  std::string whole = prefix_ + text;
  if (whole.empty() || whole.back() != '\n') whole += '\n';
  std::lock_guard<std::mutex> lock(mutex_);
  posix_io::write_all(fd_, whole.data(), whole.size());
}

}  // namespace meter_host
