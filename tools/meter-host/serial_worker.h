#pragma once
// The serial thread: the one place where frames go out on the line and
// replies come back to the drivers. Each meter on the line is a station
// with its own driver; the drivers' requests arrive from any thread
// through the back end and wait here; status refreshes are asked for by
// the round scheduler and made here too, so every polling path runs on
// this thread alone. A port that fails is closed and opened again with
// back-off while the stations wait.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_log.h"
#include "line_stats.h"
#include "modbus_line.h"

class SPModbus;

namespace meter_host {

using Clock = std::chrono::steady_clock;

// line_lost: the port failed during the round; the round does not count.
enum class RoundEnd { completed, stalled, timed_out, stopped, line_lost };

// Reopening a lost port: the first try after 1 s, then twice as long each
// time, at most 30 s.
constexpr std::chrono::seconds kFirstReopen{1};
constexpr std::chrono::seconds kLongestReopen{30};
std::chrono::seconds next_reopen_delay(std::chrono::seconds delay);

class SerialWorker {
public:
  SerialWorker(ModbusLine& line, Log& log, BusStats& stats);
  ~SerialWorker();
  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;

  // Before start(). `deviceMutex` serialises the driver's polling path
  // with the commands that take over its request state. Returns the
  // station's index, which is also its index in the statistics.
  // `label` starts the station's log lines ("meter 2 (slave 2): ", or
  // nothing for a line with one meter).
  std::size_t add_station(SPModbus& device, std::mutex& deviceMutex, std::string label);

  void start();
  // Ends after the exchange in flight, if any.
  void stop();

  // A request frame from a station's driver. The framework expects the
  // reply to its newest request only, so an older frame of the station not
  // yet sent is dropped. Returns the frame's ticket.
  std::uint64_t queue_frame(std::size_t station, const unsigned char* frame, unsigned length);
  std::uint64_t last_ticket() const;
  // True once the frame was answered, timed out or dropped.
  bool wait_ticket(std::uint64_t ticket, Clock::time_point deadline);

  // Rounds, counted from 1 by the scheduler for each station.
  void request_refresh(std::size_t station, unsigned round);
  // Round completion reached the history store (inside the driver's
  // payload handler, on this thread). True when the round counts and is to
  // be stored; false when the scheduler gave it up before its last reply
  // came. Here and in wait_round, under one lock, is where a round is
  // decided: completed (counted and stored) or given up (neither).
  bool round_done(std::size_t station);
  // A station whose failed requests are logged only with --verbose.
  void set_quiet(std::size_t station, bool quiet);
  // The driver's Modbus layer rejected the reply to the request in flight.
  void note_rejection(std::size_t station, const std::string& why);
  // Any end but `completed` gives the round up: the rest of its reads stay
  // off the line and a late completion is not stored. After an interrupt
  // it first waits for the exchange in flight, so that the round ends
  // either completed or stopped, never completed later.
  RoundEnd wait_round(std::size_t station, unsigned round, Clock::time_point deadline, std::string* why);
  // True once the line is open (at once unless it was lost); false when
  // stopped or interrupted first; nothing when `until` came first.
  std::optional<bool> wait_line(Clock::time_point until);
  // Wakes every waiter; later waits end at once. The serial thread ends
  // after the exchange in flight and starts no other.
  void interrupt();

private:
  struct Pending {
    std::uint64_t ticket;
    std::vector<std::uint8_t> frame;
  };
  struct Station {
    SPModbus* device;
    std::mutex* deviceMutex;
    std::string label;
    std::optional<Pending> pending;
    std::optional<unsigned> refreshWanted;
    unsigned refreshed = 0;    // the round last started
    unsigned completed = 0;    // the round last completed
    bool abandoned = false;    // the round last started was given up: it no longer counts
    bool lineLost = false;     // the port failed during the round
    std::string failure;       // why the current round stopped
    bool quiet = false;  // its failures only in --verbose
  };

  void run();
  void give_up(Station& st);
  void exchange(std::size_t station, const Pending& p);
  void refresh(std::size_t station, unsigned round);
  void reopen(std::unique_lock<std::mutex>& lock);
  void lose_line(std::size_t station, const std::string& why);
  // The next piece of work, as (station, refresh?): writes first, then
  // refreshes, then reads.
  std::optional<std::pair<std::size_t, bool>> next_work() const;

  ModbusLine& line_;
  Log& log_;
  BusStats& stats_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  // A deque: a station added while the thread runs leaves the others'
  // references valid.
  std::deque<Station> stations_;
  std::set<std::uint64_t> outstanding_;  // queued or on the line
  std::uint64_t lastTicket_ = 0;
  std::optional<std::size_t> busy_;  // the station whose driver call or exchange is in progress
  std::string inFlight_;             // the request on the line
  std::optional<unsigned> inFlightException_;  // the reply in hand is an exception with this code
  std::optional<std::size_t> lastStation_;  // whose exchange was last on the line (serial thread only)
  bool lineUp_ = true;
  bool stop_ = false;
  bool interrupted_ = false;
  bool running_ = false;  // the serial thread may still exchange or complete a round
  std::thread thread_;
};

}  // namespace meter_host
