#include "posix_io.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

namespace posix_io {

bool write_all(int fd, const void* data, std::size_t length) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (length > 0) {
    const ssize_t n = ::write(fd, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<std::string> LineReader::read_line(Clock::time_point deadline) {
  for (;;) {
    const auto end = buffer_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (eof_) {
      if (buffer_.empty()) return std::nullopt;
      std::string last;
      last.swap(buffer_);
      return last;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) {
      if (rc < 0) eof_ = true;
      continue;
    }
    char chunk[4096];
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      eof_ = true;
      continue;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

namespace {

bool make_pipe(int fds[2]) { return ::pipe2(fds, O_CLOEXEC) == 0; }

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const std::vector<char*>& args, const SpawnOptions& options, int in, int out, int err,
                             int report) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  if (options.dieWithParent) prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (in < 0) in = ::open("/dev/null", O_RDONLY);
  if (err < 0 && !options.stderrFile.empty())
    err = ::open(options.stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (in >= 0) dup2(in, 0);
  if (out >= 0) dup2(out, 1);
  if (err >= 0) dup2(err, 2);
  execv(args[0], args.data());
  const int e = errno;
  (void)!::write(report, &e, sizeof e);
  _exit(127);
}

}  // namespace

Process Process::spawn(const std::vector<std::string>& argv, const SpawnOptions& options, std::string* error) {
  Process p;
  if (argv.empty()) {
    if (error) *error = "nothing to run";
    return p;
  }
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, report[2] = {-1, -1};
  auto close_all = [&] {
    for (int* f : {in, out, err, report}) {
      close_fd(f[0]);
      close_fd(f[1]);
    }
  };
  if ((options.pipeStdin && !make_pipe(in)) || (options.pipeStdout && !make_pipe(out)) ||
      (options.pipeStderr && !make_pipe(err)) || !make_pipe(report)) {
    if (error) *error = std::string("pipe: ") + std::strerror(errno);
    close_all();
    return p;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) {
    if (error) *error = std::string("fork: ") + std::strerror(errno);
    close_all();
    return p;
  }
  if (pid == 0) exec_child(args, options, in[0], out[1], err[1], report[1]);

  close_fd(in[0]);
  close_fd(out[1]);
  close_fd(err[1]);
  close_fd(report[1]);
  int childErrno = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &childErrno, sizeof childErrno);
  } while (n < 0 && errno == EINTR);
  close_fd(report[0]);
  p.pid_ = pid;
  p.stdin_ = in[1];
  p.stdout_ = out[0];
  p.stderr_ = err[0];
  if (n == static_cast<ssize_t>(sizeof childErrno)) {
    if (error) *error = "cannot run " + argv[0] + ": " + std::strerror(childErrno);
    p.wait(std::chrono::milliseconds(2000));
    p.close_fds();
  }
  return p;
}

Process::~Process() {
  if (running()) terminate();
  close_fds();
}

Process::Process(Process&& other) noexcept { *this = std::move(other); }

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    if (running()) terminate();
    close_fds();
    pid_ = std::exchange(other.pid_, -1);
    stdin_ = std::exchange(other.stdin_, -1);
    stdout_ = std::exchange(other.stdout_, -1);
    stderr_ = std::exchange(other.stderr_, -1);
    status_ = std::exchange(other.status_, std::nullopt);
  }
  return *this;
}

void Process::close_stdin() { close_fd(stdin_); }

void Process::close_fds() {
  close_fd(stdin_);
  close_fd(stdout_);
  close_fd(stderr_);
}

std::optional<int> Process::wait(std::chrono::milliseconds timeout) {
  if (status_ || pid_ <= 0) return status_;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int st = 0;
    const pid_t r = ::waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return status_;
    }
    if (r < 0 && errno != EINTR) {
      status_ = -1;
      return status_;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    // No child-exit notification without a signal handler: look again soon.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int Process::terminate(std::chrono::milliseconds grace) {
  if (!running()) return status_.value_or(-1);
  ::kill(pid_, SIGTERM);
  if (auto st = wait(grace)) return *st;
  ::kill(pid_, SIGKILL);
  return wait(std::chrono::milliseconds(5000)).value_or(-1);
}

}  // namespace posix_io
