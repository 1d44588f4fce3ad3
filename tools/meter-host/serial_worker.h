#pragma once
// The serial thread: the one place where frames go out on the line and
// replies come back to the driver. The driver's requests arrive from any
// thread through the back end and wait here; status refreshes are asked
// for by the round scheduler and made here too, so the polling path runs
// on this thread alone.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_log.h"
#include "modbus_line.h"

class SPModbus;

namespace meter_host {

using Clock = std::chrono::steady_clock;

enum class RoundEnd { completed, stalled, timed_out, stopped };

class SerialWorker {
public:
  // `deviceMutex` serialises the driver's polling path with the commands
  // that take over its request state.
  SerialWorker(SPModbus& device, std::mutex& deviceMutex, ModbusLine& line, Log& log);
  ~SerialWorker();
  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;

  void start();
  // Ends after the exchange in flight, if any.
  void stop();

  // A request frame from the driver. The framework expects the reply to
  // its newest request only, so an older frame not yet sent is dropped.
  // Returns the frame's ticket.
  std::uint64_t queue_frame(const unsigned char* frame, unsigned length);
  std::uint64_t last_ticket() const;
  // True once the frame was answered, timed out or dropped.
  bool wait_ticket(std::uint64_t ticket, Clock::time_point deadline);

  // Rounds, counted from 1 by the scheduler.
  void request_refresh(unsigned round);
  // Round completion reached the history store (inside the driver's
  // payload handler, on this thread).
  void note_round_done();
  // Why the round in progress stopped, when it did.
  void note_failure(const std::string& why);
  // The driver's Modbus layer rejected the reply to the request in flight.
  void note_rejection(const std::string& why);
  RoundEnd wait_round(unsigned round, Clock::time_point deadline, std::string* why);
  // Wakes every waiter; later waits end at once.
  void interrupt();

private:
  struct Pending {
    std::uint64_t ticket;
    std::vector<std::uint8_t> frame;
  };

  void run();
  void exchange(const Pending& p);
  void refresh(unsigned round);

  SPModbus& device_;
  std::mutex& deviceMutex_;
  ModbusLine& line_;
  Log& log_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::optional<Pending> pending_;
  std::set<std::uint64_t> outstanding_;  // queued or on the line
  std::uint64_t lastTicket_ = 0;
  bool busy_ = false;  // a driver call or an exchange is in progress
  std::optional<unsigned> refreshWanted_;
  unsigned refreshed_ = 0;  // the round last started
  unsigned completed_ = 0;  // the round last completed
  std::string failure_;     // why the current round stopped
  std::string inFlight_;    // the request on the line
  bool stop_ = false;
  bool interrupted_ = false;
  std::thread thread_;
};

}  // namespace meter_host
