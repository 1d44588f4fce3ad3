#include "serial_worker.h"

#include <algorithm>
#include <exception>

#include "host/rtu.h"
#include "host/sp_modbus.h"

namespace meter_host {

namespace {
bool is_read(const std::vector<std::uint8_t>& frame) {
  return frame.size() > 1 && frame[1] == host::kReadHoldingRegisters;
}
}  // namespace

std::chrono::seconds next_reopen_delay(std::chrono::seconds delay) { return std::min(2 * delay, kLongestReopen); }

SerialWorker::SerialWorker(ModbusLine& line, Log& log, BusStats& stats) : line_(line), log_(log), stats_(stats) {}

SerialWorker::~SerialWorker() { stop(); }

std::size_t SerialWorker::add_station(SPModbus& device, std::mutex& deviceMutex, std::string label) {
  std::lock_guard<std::mutex> lock(mutex_);
  Station st;
  st.device = &device;
  st.deviceMutex = &deviceMutex;
  st.label = std::move(label);
  stations_.push_back(std::move(st));
  return stations_.size() - 1;
}

void SerialWorker::start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
  }
  thread_ = std::thread([this] { run(); });
}

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

std::uint64_t SerialWorker::queue_frame(std::size_t station, const unsigned char* frame, unsigned length) {
  std::lock_guard<std::mutex> lock(mutex_);
  Station& st = stations_.at(station);
  std::vector<std::uint8_t> bytes(frame, frame + length);
  if (st.abandoned && is_read(bytes)) {
    log_.detail(st.label + "dropped " + describe_request(bytes) + ": its round was abandoned");
    return ++lastTicket_;
  }
  if (st.pending) {
    log_.detail(st.label + "dropped " + describe_request(st.pending->frame) + ": a newer request replaces it");
    outstanding_.erase(st.pending->ticket);
  }
  st.pending = Pending{++lastTicket_, std::move(bytes)};
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

void SerialWorker::request_refresh(std::size_t station, unsigned round) {
  std::lock_guard<std::mutex> lock(mutex_);
  Station& st = stations_.at(station);
  st.refreshWanted = round;
  // A round taken again after a lost line starts clean.
  st.lineLost = false;
  cv_.notify_all();
}

bool SerialWorker::round_done(std::size_t station) {
  std::lock_guard<std::mutex> lock(mutex_);
  Station& st = stations_.at(station);
  if (st.abandoned) return false;
  st.completed = st.refreshed;
  cv_.notify_all();
  return true;
}

void SerialWorker::note_rejection(std::size_t station, const std::string& why) {
  std::string line;
  bool exception = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Station& st = stations_.at(station);
    // The framework says "exception N"; the log names the code.
    const std::string said = inFlightException_ && why.rfind("exception", 0) == 0 ? exception_text(*inFlightException_) : why;
    exception = inFlightException_.has_value();
    st.failure = (inFlight_.empty() ? std::string() : inFlight_ + ": ") + "reply rejected: " + said;
    line = st.label + st.failure;
  }
  if (why == "bad CRC")
    stats_.crc_error(station);
  else if (!exception)
    stats_.wrong_reply(station);
  log_.line(line);
}

void SerialWorker::give_up(Station& st) {
  st.abandoned = true;
  if (st.pending && is_read(st.pending->frame)) {
    outstanding_.erase(st.pending->ticket);
    st.pending.reset();
  }
  cv_.notify_all();
}

void SerialWorker::set_quiet(std::size_t station, bool quiet) {
  std::lock_guard<std::mutex> lock(mutex_);
  stations_.at(station).quiet = quiet;
}

std::optional<bool> SerialWorker::wait_line(Clock::time_point until) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!cv_.wait_until(lock, until, [&] { return lineUp_ || stop_ || interrupted_; })) return std::nullopt;
  return lineUp_ && !stop_ && !interrupted_;
}

void SerialWorker::interrupt() {
  std::lock_guard<std::mutex> lock(mutex_);
  interrupted_ = true;
  cv_.notify_all();
}

RoundEnd SerialWorker::wait_round(std::size_t station, unsigned round, Clock::time_point deadline, std::string* why) {
  std::unique_lock<std::mutex> lock(mutex_);
  Station& st = stations_.at(station);
  // Stalled: the round was started, nothing of it is queued or on the
  // line, and it did not complete. The driver is waiting for nothing.
  auto stalled = [&] { return st.refreshed == round && busy_ != station && !st.pending && !st.refreshWanted; };
  auto lost = [&] { return !lineUp_ || (st.refreshed == round && st.lineLost); };
  const bool ended = cv_.wait_until(lock, deadline, [&] {
    return interrupted_ || stop_ || st.completed == round || lost() || stalled();
  });
  // The reply in flight may still complete the round: let it.
  if (st.completed != round && (interrupted_ || stop_)) cv_.wait(lock, [&] { return !running_; });
  if (st.completed == round) return RoundEnd::completed;
  give_up(st);
  if (interrupted_ || stop_) return RoundEnd::stopped;
  if (lost()) {
    *why = st.lineLost && !st.failure.empty() ? st.failure : "the line is lost";
    return RoundEnd::line_lost;
  }
  if (!ended) return RoundEnd::timed_out;
  *why = st.failure.empty() ? "the driver sent no further request" : st.failure;
  return RoundEnd::stalled;
}

std::optional<std::pair<std::size_t, bool>> SerialWorker::next_work() const {
  for (std::size_t s = 0; s < stations_.size(); ++s)
    if (stations_[s].pending && !is_read(stations_[s].pending->frame)) return std::make_pair(s, false);
  for (std::size_t s = 0; s < stations_.size(); ++s)
    if (stations_[s].refreshWanted) return std::make_pair(s, true);
  for (std::size_t s = 0; s < stations_.size(); ++s)
    if (stations_[s].pending) return std::make_pair(s, false);
  return std::nullopt;
}

void SerialWorker::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    cv_.wait(lock, [&] { return stop_ || interrupted_ || !lineUp_ || next_work(); });
    if (stop_ || interrupted_) break;
    if (!lineUp_) {
      reopen(lock);
      continue;
    }
    const auto [s, isRefresh] = *next_work();
    Station& st = stations_[s];
    busy_ = s;
    if (isRefresh) {
      // A refresh supersedes the rest of an abandoned round.
      const unsigned round = *st.refreshWanted;
      st.refreshWanted.reset();
      lock.unlock();
      refresh(s, round);
      lock.lock();
    } else {
      const Pending p = std::move(*st.pending);
      st.pending.reset();
      if (!is_read(p.frame) && st.refreshed != st.completed && !st.abandoned)
        st.failure = describe_request(p.frame) + " took over the line";
      inFlight_ = describe_request(p.frame);
      lock.unlock();
      exchange(s, p);
      lock.lock();
      inFlight_.clear();
      inFlightException_.reset();
      outstanding_.erase(p.ticket);
    }
    busy_.reset();
    cv_.notify_all();
  }
  running_ = false;
  cv_.notify_all();
}

void SerialWorker::refresh(std::size_t station, unsigned round) {
  Station& st = stations_[station];
  std::lock_guard<std::mutex> device(*st.deviceMutex);
  {
    // Decided again under the device lock: a command may have queued a
    // write since, and the refresh would drop it.
    std::lock_guard<std::mutex> lock(mutex_);
    if (st.pending && !is_read(st.pending->frame)) {
      if (!st.refreshWanted) st.refreshWanted = round;
      return;
    }
    if (st.pending) {
      outstanding_.erase(st.pending->ticket);
      st.pending.reset();
    }
    st.refreshed = round;
    st.abandoned = false;
    st.lineLost = false;
    st.failure.clear();
  }
  try {
    st.device->RefreshStatus();
  } catch (const std::exception& e) {
    log_.line(st.label + "the driver's status refresh failed: " + e.what());
    std::lock_guard<std::mutex> lock(mutex_);
    st.failure = std::string("status refresh failed: ") + e.what();
  }
}

void SerialWorker::lose_line(std::size_t station, const std::string& why) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lineUp_ = false;
    Station& st = stations_[station];
    st.lineLost = true;
    st.failure = "line lost: " + why;
    cv_.notify_all();
  }
  stats_.line_lost();
  log_.line("line lost: " + why);
  line_.close();
}

void SerialWorker::reopen(std::unique_lock<std::mutex>& lock) {
  auto delay = kFirstReopen;
  while (!stop_ && !interrupted_) {
    if (cv_.wait_for(lock, delay, [&] { return stop_ || interrupted_; })) return;
    lock.unlock();
    std::string error;
    const bool open = line_.reopen(&error);
    lock.lock();
    if (open) {
      lineUp_ = true;
      log_.line("line back");
      cv_.notify_all();
      return;
    }
    delay = next_reopen_delay(delay);
    log_.detail(error + "; next try in " + std::to_string(delay.count()) + " s");
  }
}

void SerialWorker::exchange(std::size_t station, const Pending& p) {
  Station& st = stations_[station];
  const std::string what = describe_request(p.frame);
  log_.detail(st.label + "-> " + what);
  Exchange e = line_.exchange(p.frame);
  stats_.request(station, p.frame.size());
  if (e.stale > 0 && lastStation_) {
    // A reply that came after its exchange was given up.
    stats_.reply(*lastStation_, e.stale);
    stats_.wrong_reply(*lastStation_);
  }
  lastStation_ = station;
  switch (e.kind) {
    case Exchange::Kind::reply:
      stats_.reply(station, e.reply.size());
      if (e.reply.size() >= 3 && (e.reply[1] & host::kExceptionFlag)) {
        stats_.exception(station, e.reply[2]);
        std::lock_guard<std::mutex> lock(mutex_);
        inFlightException_ = e.reply[2];
      }
      break;
    case Exchange::Kind::timeout:
      stats_.timeout(station);
      break;
    case Exchange::Kind::failed:
      if (e.why == "bad CRC")
        stats_.crc_error(station);
      else
        stats_.wrong_reply(station);
      break;
    case Exchange::Kind::lost:
      lose_line(station, e.why);
      break;
  }
  std::lock_guard<std::mutex> device(*st.deviceMutex);
  try {
    if (e.kind == Exchange::Kind::reply) {
      log_.detail(st.label + "<- " + std::to_string(e.reply.size()) + " bytes");
      st.device->process(e.reply.data(), static_cast<unsigned>(e.reply.size()));
    } else {
      if (e.kind != Exchange::Kind::lost) {
        bool quiet = false;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          quiet = st.quiet;
        }
        // An offline meter's failures were said once, when it went offline.
        if (quiet)
          log_.detail(st.label + what + ": " + e.why);
        else
          log_.line(st.label + what + ": " + e.why);
        std::lock_guard<std::mutex> lock(mutex_);
        st.failure = what + ": " + e.why;
      }
      st.device->on_error();
    }
  } catch (const std::exception& ex) {
    log_.line(st.label + "the driver failed on the reply to " + what + ": " + ex.what());
    std::lock_guard<std::mutex> lock(mutex_);
    st.failure = std::string("the driver failed: ") + ex.what();
  }
}

}  // namespace meter_host
