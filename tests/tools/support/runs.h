#pragma once
// Whole runs of meter-host and meter-sim for the tests: child processes
// whose output is collected on threads, temporary directories, image files.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <json/value.h>

#include "posix_io.h"
#include "support/json.h"
#include "support/temp_dir.h"

namespace tools_test {

using namespace std::chrono_literals;

// Generous bounds: every run ends long before them unless something hangs.
constexpr auto kRunTimeout = 90s;
constexpr auto kEventTimeout = 30s;

using kvtest::TempDir;

// Everything a descriptor delivers until its end, read on a thread.
class Collector {
public:
  explicit Collector(int fd);
  ~Collector();
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  // Waits until the text holds `needle` `times` times.
  bool wait_for(const std::string& needle, std::chrono::milliseconds timeout, std::size_t times = 1);
  // Waits until the other end closed.
  bool wait_end(std::chrono::milliseconds timeout);
  std::string text() const;
  std::vector<std::string> lines() const;

private:
  void run();

  int fd_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::string text_;
  bool ended_ = false;
  bool stop_ = false;
  std::thread thread_;
};

std::size_t count_of(const std::string& text, const std::string& needle);

// meter-host with its standard streams piped.
class HostRun {
public:
  explicit HostRun(const std::vector<std::string>& args);
  void send(const std::string& line);
  void close_input();
  // The exit status, or -1 when it had to be killed.
  int wait(std::chrono::milliseconds timeout = kRunTimeout);
  pid_t pid() const { return process_.pid(); }
  Collector& out() { return *out_; }
  Collector& err() { return *err_; }
  std::vector<std::string> out_lines() const { return out_->lines(); }
  std::string err_text() const { return err_->text(); }

private:
  posix_io::Process process_;
  std::optional<Collector> out_;
  std::optional<Collector> err_;
};

// Runs meter-host to its end with no input.
struct Finished {
  int status = -1;
  std::vector<std::string> out;
  std::string err;
};
Finished run_host(const std::vector<std::string>& args);

// meter-sim on a new pseudo-terminal, its log collected.
class SimRun {
public:
  explicit SimRun(const std::vector<std::string>& args);
  const std::string& path() const { return path_; }
  Collector& err() { return *err_; }
  // Sends the reply that --fault hold keeps back.
  void release();
  // Ends the simulator: its pseudo-terminal goes away with it.
  void stop() { process_.terminate(); }

private:
  posix_io::Process process_;
  std::string path_;
  std::optional<Collector> err_;
};

// A register image file.
void write_image(const std::string& path, const std::map<unsigned, std::uint16_t>& image);
void write_text(const std::string& path, const std::string& text);

// The snapshot lines of a run: every line of standard output that is a
// JSON object.
std::vector<Json::Value> snapshots(const std::vector<std::string>& lines);
using kvtest::parse_json;

// The bytes the block holds for this image, data id and time stamp text.
std::vector<unsigned char> expected_block(const std::map<unsigned, std::uint16_t>& image, std::uint32_t dataId,
                                          const std::string& updateTime);

// Signs of trouble that sanitizers leave on standard error.
bool sanitizer_report(const std::string& err);

}  // namespace tools_test
