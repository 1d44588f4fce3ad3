#pragma once
// Where meter-host writes. Its own lines go to standard error with the
// prefix "meter-host: "; the lines that scripts read (snapshot texts,
// control results, command answers) go to the output, one whole line at a
// time from any thread.
#include <mutex>
#include <string>

namespace meter_host {

class LineSink {
public:
  explicit LineSink(int fd, std::string prefix = {}) : fd_(fd), prefix_(std::move(prefix)) {}
  // Writes prefix, text and a line end (unless the text ends in one).
  void line(const std::string& text);

private:
  std::mutex mutex_;
  int fd_;
  std::string prefix_;
};

class Log {
public:
  explicit Log(int fd, bool verbose = false) : sink_(fd, "meter-host: "), verbose_(verbose) {}
  void line(const std::string& text) { sink_.line(text); }
  // Multi-line text as log lines, each with the log's prefix.
  void lines(const std::string& text);
  void detail(const std::string& text) {
    if (verbose_) sink_.line(text);
  }
  bool verbose() const { return verbose_; }

private:
  LineSink sink_;
  bool verbose_;
};

}  // namespace meter_host
