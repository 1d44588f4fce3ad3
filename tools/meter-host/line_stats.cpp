#include "line_stats.h"

#include <cstdio>

#include "line_timing.h"

namespace meter_host {

namespace {

struct ExceptionName {
  unsigned code;
  const char* name;
};
constexpr ExceptionName kExceptionNames[] = {
    {1, "illegal function"},        {2, "illegal data address"},
    {3, "illegal data value"},      {4, "slave device failure"},
    {5, "acknowledge"},             {6, "slave device busy"},
    {7, "negative acknowledge"},    {8, "memory parity error"},
    {10, "gateway path unavailable"}, {11, "gateway target device failed to respond"},
};

std::string fixed(double v, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

}  // namespace

const char* exception_name(unsigned code) {
  for (const ExceptionName& e : kExceptionNames)
    if (e.code == code) return e.name;
  return "unknown";
}

std::string exception_text(unsigned code) {
  return "exception " + std::to_string(code) + " (" + exception_name(code) + ")";
}

std::string stats_text(const LineStats& line, const std::vector<MeterStats>& meters) {
  const double wire =
      std::chrono::duration<double>(rtu_line::wire_time(line.bytesOut + line.bytesIn, line.baud, line.parity)).count();
  std::string out = "line " + line.port + ": " + std::to_string(line.bytesOut) + " bytes out, " +
                    std::to_string(line.bytesIn) + " bytes in in " + fixed(line.seconds, 1) + " s, utilisation " +
                    fixed(line.seconds > 0 ? 100.0 * wire / line.seconds : 0.0, 1) + " % at " +
                    std::to_string(line.baud) + " baud, lost " + std::to_string(line.losses) + " times";
  for (const MeterStats& m : meters) {
    out += "\nmeter " + std::to_string(m.dataId) + " (slave " + std::to_string(m.slave) + ")" +
           (m.offline ? " offline" : "") + ": rounds " + std::to_string(m.roundsCompleted) + " completed, " +
           std::to_string(m.roundsAbandoned) + " abandoned; requests " + std::to_string(m.requests) +
           ", time-outs " + std::to_string(m.timeouts) + ", CRC errors " + std::to_string(m.crcErrors) +
           ", exceptions ";
    if (m.exceptions.empty()) out += "0";
    bool first = true;
    for (const auto& [code, n] : m.exceptions) {
      out += (first ? "" : ", ") + std::to_string(n) + " x " + exception_text(code);
      first = false;
    }
    out += ", wrong or late replies " + std::to_string(m.wrongReplies);
    if (m.roundsCompleted > 0)
      out += "; round time last " + std::to_string(m.lastRound.count()) + " ms, mean " +
             std::to_string(m.allRounds.count() / m.roundsCompleted) + " ms";
  }
  return out;
}

void BusStats::start(const std::string& port, unsigned baud, bool parity) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_.port = port;
  line_.baud = baud;
  line_.parity = parity;
  started_ = std::chrono::steady_clock::now();
}

std::size_t BusStats::add_meter(std::uint32_t dataId, unsigned slave) {
  std::lock_guard<std::mutex> lock(mutex_);
  MeterStats m;
  m.dataId = dataId;
  m.slave = slave;
  meters_.push_back(m);
  return meters_.size() - 1;
}

void BusStats::request(std::size_t meter, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++meters_.at(meter).requests;
  line_.bytesOut += bytes;
}

void BusStats::reply(std::size_t, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_.bytesIn += bytes;
}

void BusStats::timeout(std::size_t meter) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++meters_.at(meter).timeouts;
}

void BusStats::crc_error(std::size_t meter) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++meters_.at(meter).crcErrors;
}

void BusStats::exception(std::size_t meter, unsigned code) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++meters_.at(meter).exceptions[code];
}

void BusStats::wrong_reply(std::size_t meter) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++meters_.at(meter).wrongReplies;
}

void BusStats::line_lost() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++line_.losses;
}

void BusStats::round(std::size_t meter, bool completed, std::chrono::milliseconds took) {
  std::lock_guard<std::mutex> lock(mutex_);
  MeterStats& m = meters_.at(meter);
  if (completed) {
    ++m.roundsCompleted;
    m.lastRound = took;
    m.allRounds += took;
  } else {
    ++m.roundsAbandoned;
  }
}

void BusStats::offline(std::size_t meter, bool offline) {
  std::lock_guard<std::mutex> lock(mutex_);
  meters_.at(meter).offline = offline;
}

void BusStats::add_line(std::function<std::string()> line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(std::move(line));
}

std::string BusStats::text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  LineStats line = line_;
  line.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  std::string out = stats_text(line, meters_);
  for (const auto& more : lines_) out += "\n" + more();
  return out;
}

std::vector<MeterStats> BusStats::meters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return meters_;
}

}  // namespace meter_host
