#pragma once
// Where meter-host writes. Its own lines go to standard error with the
// prefix "meter-host: "; the lines that scripts read (snapshot texts,
// control results, command answers) go to the output, one whole line at a
// time from any thread. When a descriptor is the journal's stream (as
// JOURNAL_STREAM names it), every line carries its priority instead of the
// prefix: the journal names the program itself.
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace meter_host {

// The priorities of sd-daemon(3) that the host's lines use.
enum class Priority { error = 3, warning = 4, info = 6, debug = 7 };

// The bytes written for `text`: without the journal, `prefix` and the text;
// with it, "<N>" before every line of the text. Ends with a line end.
std::string log_bytes(const std::string& prefix, const std::string& text, Priority priority, bool journal);

// JOURNAL_STREAM's "DEVICE:INODE", or nothing when it is not that.
std::optional<std::pair<unsigned long long, unsigned long long>> journal_stream(const char* text);
// True when `fd` is the stream that JOURNAL_STREAM (`text`) names.
bool is_journal_stream(int fd, const char* text);

class LineSink {
public:
  // Looks in the environment whether `fd` is the journal.
  explicit LineSink(int fd, std::string prefix = {});
  LineSink(int fd, std::string prefix, bool journal) : fd_(fd), prefix_(std::move(prefix)), journal_(journal) {}
  // Writes prefix (or priority), text and a line end (unless the text ends
  // in one), all in one write.
  void line(const std::string& text) { line(Priority::info, text); }
  void line(Priority priority, const std::string& text);
  bool journal() const { return journal_; }

private:
  std::mutex mutex_;
  int fd_;
  std::string prefix_;
  bool journal_;
};

class Log {
public:
  explicit Log(int fd, bool verbose = false) : sink_(fd, "meter-host: "), verbose_(verbose) {}
  Log(int fd, bool verbose, bool journal) : sink_(fd, "meter-host: ", journal), verbose_(verbose) {}
  // Rounds, alarms, start and stop.
  void line(const std::string& text) { sink_.line(Priority::info, text); }
  void line(Priority priority, const std::string& text) { sink_.line(priority, text); }
  // A condition that needs a look but not a stop: a meter offline, a line lost.
  void warning(const std::string& text) { sink_.line(Priority::warning, text); }
  // What stops the host or refuses its set-up: a site that does not load.
  void error(const std::string& text) { sink_.line(Priority::error, text); }
  // Multi-line text as log lines, each with the log's prefix.
  void lines(const std::string& text);
  // --verbose detail.
  void detail(const std::string& text) {
    if (verbose_) sink_.line(Priority::debug, text);
  }
  bool verbose() const { return verbose_; }

private:
  LineSink sink_;
  bool verbose_;
};

}  // namespace meter_host
