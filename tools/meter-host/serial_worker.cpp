#include "serial_worker.h"

#include <exception>

#include "host/rtu.h"
#include "host/sp_modbus.h"

namespace meter_host {

SerialWorker::SerialWorker(SPModbus& device, std::mutex& deviceMutex, ModbusLine& line, Log& log)
    : device_(device), deviceMutex_(deviceMutex), line_(line), log_(log) {}

SerialWorker::~SerialWorker() { stop(); }

void SerialWorker::start() { thread_ = std::thread([this] { run(); }); }

void SerialWorker::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  outstanding_.clear();
  cv_.notify_all();
}

std::uint64_t SerialWorker::queue_frame(const unsigned char* frame, unsigned length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_) {
    log_.detail("dropped " + describe_request(pending_->frame) + ": a newer request replaces it");
    outstanding_.erase(pending_->ticket);
  }
  pending_ = Pending{++lastTicket_, std::vector<std::uint8_t>(frame, frame + length)};
  outstanding_.insert(lastTicket_);
  cv_.notify_all();
  return lastTicket_;
}

std::uint64_t SerialWorker::last_ticket() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastTicket_;
}

bool SerialWorker::wait_ticket(std::uint64_t ticket, Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_until(lock, deadline, [&] { return outstanding_.count(ticket) == 0 || interrupted_; }) &&
         outstanding_.count(ticket) == 0;
}

void SerialWorker::request_refresh(unsigned round) {
  std::lock_guard<std::mutex> lock(mutex_);
  refreshWanted_ = round;
  cv_.notify_all();
}

void SerialWorker::note_round_done() {
  std::lock_guard<std::mutex> lock(mutex_);
  completed_ = refreshed_;
  cv_.notify_all();
}

void SerialWorker::note_failure(const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  failure_ = why;
}

void SerialWorker::note_rejection(const std::string& why) {
  std::string line;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = (inFlight_.empty() ? std::string() : inFlight_ + ": ") + "reply rejected: " + why;
    line = failure_;
  }
  log_.line(line);
}

void SerialWorker::interrupt() {
  std::lock_guard<std::mutex> lock(mutex_);
  interrupted_ = true;
  cv_.notify_all();
}

RoundEnd SerialWorker::wait_round(unsigned round, Clock::time_point deadline, std::string* why) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Stalled: the round was started, nothing is queued or on the line, and
  // it did not complete. The driver is waiting for nothing.
  auto stalled = [&] { return refreshed_ == round && !busy_ && !pending_ && !refreshWanted_; };
  const bool ended = cv_.wait_until(lock, deadline, [&] {
    return interrupted_ || stop_ || completed_ == round || stalled();
  });
  if (completed_ == round) return RoundEnd::completed;
  if (interrupted_ || stop_) return RoundEnd::stopped;
  if (!ended) return RoundEnd::timed_out;
  *why = failure_.empty() ? "the driver sent no further request" : failure_;
  return RoundEnd::stalled;
}

void SerialWorker::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    cv_.wait(lock, [&] { return stop_ || pending_ || refreshWanted_; });
    if (stop_) return;
    // A refresh supersedes the rest of an abandoned round, but not a
    // command's write that waits to go out.
    if (refreshWanted_ && (!pending_ || pending_->frame[1] == host::kReadHoldingRegisters)) {
      const unsigned round = *refreshWanted_;
      refreshWanted_.reset();
      busy_ = true;
      lock.unlock();
      refresh(round);
      lock.lock();
    } else {
      const Pending p = std::move(*pending_);
      pending_.reset();
      if (p.frame.size() > 1 && p.frame[1] != host::kReadHoldingRegisters && refreshed_ != completed_)
        failure_ = describe_request(p.frame) + " took over the line";
      inFlight_ = describe_request(p.frame);
      busy_ = true;
      lock.unlock();
      exchange(p);
      lock.lock();
      inFlight_.clear();
      outstanding_.erase(p.ticket);
    }
    busy_ = false;
    cv_.notify_all();
  }
}

void SerialWorker::refresh(unsigned round) {
  std::lock_guard<std::mutex> device(deviceMutex_);
  {
    // Decided again under the device lock: a command may have queued a
    // write since, and the refresh would drop it.
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_ && pending_->frame[1] != host::kReadHoldingRegisters) {
      if (!refreshWanted_) refreshWanted_ = round;
      return;
    }
    if (pending_) {
      outstanding_.erase(pending_->ticket);
      pending_.reset();
    }
    refreshed_ = round;
    failure_.clear();
  }
  try {
    device_.RefreshStatus();
  } catch (const std::exception& e) {
    log_.line(std::string("the driver's status refresh failed: ") + e.what());
    note_failure(std::string("status refresh failed: ") + e.what());
  }
}

void SerialWorker::exchange(const Pending& p) {
  log_.detail("-> " + describe_request(p.frame));
  Exchange e = line_.exchange(p.frame);
  std::lock_guard<std::mutex> device(deviceMutex_);
  try {
    if (e.kind == Exchange::Kind::reply) {
      log_.detail("<- " + std::to_string(e.reply.size()) + " bytes");
      device_.process(e.reply.data(), static_cast<unsigned>(e.reply.size()));
    } else {
      log_.line(describe_request(p.frame) + ": " + e.why);
      note_failure(describe_request(p.frame) + ": " + e.why);
      device_.on_error();
    }
  } catch (const std::exception& ex) {
    log_.line(std::string("the driver failed on the reply to ") + describe_request(p.frame) + ": " + ex.what());
    note_failure(std::string("the driver failed: ") + ex.what());
  }
}

}  // namespace meter_host
