#include "history_sink.h"

#include <ctime>

namespace hist {

namespace {

std::int64_t wall_clock() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

Retention retention_of(const HistoryOptions& o) {
  Retention r;
  r.keepRawDays = o.keepRawDays;
  r.keepMinuteDays = o.keepMinuteDays;
  r.keepHourDays = o.keepHourDays;
  r.maxBytes = static_cast<std::int64_t>(o.maxMb * 1024 * 1024);
  return r;
}

HistorySink::HistorySink(std::shared_ptr<HistoryStore> store, const HistoryOptions& options, LogLine log, Clock now)
    : store_(std::move(store)),
      log_(std::move(log)),
      now_(now ? std::move(now) : Clock(wall_clock)),
      commitEvery_(static_cast<long long>(options.commitSeconds * 1000)) {
  store_->set_retention(retention_of(options));
  thread_ = std::thread([this] { run(); });
}

HistorySink::~HistorySink() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void HistorySink::round_completed(const meter_host::CompletedRound& r) {
  StoredRound copy{r.meter.dataId, static_cast<std::int64_t>(r.time), r.block};
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.rounds.push_back(std::move(copy));
  if (commitEvery_.count() == 0) wake_.notify_all();
}

void HistorySink::alarm_changed(const meter_host::AlarmChange& c) {
  StoredAlarm copy{static_cast<std::int64_t>(c.time), c.event};
  copy.event.dataId = c.meter.dataId;
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.alarms.push_back(std::move(copy));
  if (commitEvery_.count() == 0) wake_.notify_all();
}

void HistorySink::queue(OutboxMessage message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_) return;
  pending_.messages.push_back(std::move(message));
  if (commitEvery_.count() == 0) wake_.notify_all();
}

void HistorySink::sent(const std::vector<std::int64_t>& rows) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_) return;
  pending_.sent.insert(pending_.sent.end(), rows.begin(), rows.end());
  if (commitEvery_.count() == 0) wake_.notify_all();
}

void HistorySink::flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ended_) return;
  const std::uint64_t ticket = ++flushAsked_;
  wake_.notify_all();
  done_.wait(lock, [&] { return flushDone_ >= ticket || ended_; });
}

void HistorySink::stopped(const meter_host::RunEnd&) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void HistorySink::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // Commits every commitEvery_; an interval of 0 commits each round as
    // it comes.
    if (commitEvery_.count() == 0)
      wake_.wait(lock, [&] { return stopping_ || flushAsked_ > flushDone_ || !pending_.empty(); });
    else
      wake_.wait_until(lock, std::chrono::steady_clock::now() + commitEvery_,
                       [&] { return stopping_ || flushAsked_ > flushDone_; });
    Batch batch;
    std::swap(batch, pending_);
    const std::uint64_t asked = flushAsked_;
    const bool last = stopping_;
    lock.unlock();
    store(batch);
    if (last) {
      std::string error;
      if (!store_->write_open_periods(&error) && !failing_) log_("history: storing stopped: " + error);
    } else {
      prune_when_due();
    }
    lock.lock();
    flushDone_ = asked;
    if (last) {
      ended_ = true;
      done_.notify_all();
      return;
    }
    done_.notify_all();
  }
}

void HistorySink::store(Batch& batch) {
  if (batch.empty()) return;
  batch.now = now_();
  std::string error;
  const auto rounds = static_cast<unsigned>(batch.rounds.size());
  if (store_->commit(batch, &error)) {
    stored_ += rounds;
    storing_ = true;
    if (failing_) log_("history: storing again (" + std::to_string(missed_) + " rounds not stored)");
    failing_ = false;
    return;
  }
  notStored_ += rounds;
  storing_ = false;
  if (!failing_) {
    log_("history: storing stopped: " + error);
    failing_ = true;
    missed_ = 0;
  }
  missed_ += rounds;
}

std::string HistorySink::state_text() const {
  if (storing_) return "history ok";
  return "history: storing stopped (" + std::to_string(notStored_) + " rounds not stored)";
}

void HistorySink::prune_when_due() {
  const auto now = std::chrono::steady_clock::now();
  if (!pruneMore_ && now < nextPrune_) return;
  nextPrune_ = now + kPruneEvery;
  std::string error;
  if (!store_->prune(now_(), kPruneSteps, &pruneMore_, &error)) {
    pruneMore_ = false;
    if (!pruneFailing_) log_("history: pruning failed: " + error);
    pruneFailing_ = true;
    return;
  }
  pruneFailing_ = false;
}

}  // namespace hist
