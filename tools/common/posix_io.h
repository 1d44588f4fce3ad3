#pragma once
// Small POSIX helpers for the tools and their tests: whole writes, lines
// read against a deadline, and child processes with pipes.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace posix_io {

using Clock = std::chrono::steady_clock;

// Writes every byte, retrying short writes and interruptions.
bool write_all(int fd, const void* data, std::size_t length);

// Splits what a descriptor delivers into lines.
class LineReader {
public:
  explicit LineReader(int fd) : fd_(fd) {}
  // The next line without its end, or nothing when the deadline passed or
  // the other end closed (eof() then says so).
  std::optional<std::string> read_line(Clock::time_point deadline);
  bool eof() const { return eof_; }

private:
  int fd_;
  std::string buffer_;
  bool eof_ = false;
};

struct SpawnOptions {
  bool pipeStdin = false;
  bool pipeStdout = false;
  bool pipeStderr = false;
  // Where stderr goes when it is not a pipe; empty: the parent's.
  std::string stderrFile;
  // The child gets SIGTERM when the parent dies.
  bool dieWithParent = true;
};

class Process {
public:
  Process() = default;
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts argv[0] (a path) with its arguments; stdin is /dev/null unless
  // piped. On failure the process is not running and *error says why.
  static Process spawn(const std::vector<std::string>& argv, const SpawnOptions& options, std::string* error);

  bool running() const { return pid_ > 0 && !status_; }
  pid_t pid() const { return pid_; }
  int stdin_fd() const { return stdin_; }
  int stdout_fd() const { return stdout_; }
  int stderr_fd() const { return stderr_; }
  void close_stdin();

  // Exit status (128 + signal number for a signal), or nothing when the
  // child is still running after `timeout`.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  // SIGTERM, then SIGKILL if it does not end within `grace`.
  int terminate(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

private:
  void close_fds();

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::optional<int> status_;
};

}  // namespace posix_io
