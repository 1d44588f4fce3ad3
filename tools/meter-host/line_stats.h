#pragma once
// Health of the line and of each meter on it: what went out and came back,
// what failed and how, and how long rounds took. Counted by the serial
// thread and the round scheduler, read by whoever prints them.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace meter_host {

// "illegal data address" for 2, ...; "unknown" past the standard codes.
const char* exception_name(unsigned code);
// "exception 2 (illegal data address)".
std::string exception_text(unsigned code);

struct MeterStats {
  std::uint32_t dataId = 0;
  unsigned slave = 0;
  unsigned roundsCompleted = 0;
  unsigned roundsAbandoned = 0;
  std::uint64_t requests = 0;
  std::uint64_t timeouts = 0;
  std::uint64_t crcErrors = 0;
  std::uint64_t wrongReplies = 0;  // another slave's, another request's, late or malformed
  std::map<unsigned, std::uint64_t> exceptions;  // by code
  std::chrono::milliseconds lastRound{0};
  std::chrono::milliseconds allRounds{0};  // of the completed ones
  bool offline = false;
};

struct LineStats {
  std::string port;
  unsigned baud = 9600;
  bool parity = false;
  std::uint64_t bytesOut = 0;
  std::uint64_t bytesIn = 0;
  unsigned losses = 0;
  double seconds = 0;  // since the line was first opened
};

// The printed form: one line for the line, one per meter.
std::string stats_text(const LineStats& line, const std::vector<MeterStats>& meters);

class BusStats {
public:
  void start(const std::string& port, unsigned baud, bool parity);
  std::size_t add_meter(std::uint32_t dataId, unsigned slave);

  void request(std::size_t meter, std::size_t bytes);
  void reply(std::size_t meter, std::size_t bytes);
  void timeout(std::size_t meter);
  void crc_error(std::size_t meter);
  void exception(std::size_t meter, unsigned code);
  void wrong_reply(std::size_t meter);
  void line_lost();
  void round(std::size_t meter, bool completed, std::chrono::milliseconds took);
  void offline(std::size_t meter, bool offline);

  // A line of another part (the history's counts), after the meters'.
  void add_line(std::function<std::string()> line);

  std::string text() const;
  std::vector<MeterStats> meters() const;

private:
  mutable std::mutex mutex_;
  LineStats line_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::vector<MeterStats> meters_;
  std::vector<std::function<std::string()>> lines_;
};

}  // namespace meter_host
