#pragma once
// The history as a sink of the session: rounds and alarm changes are
// copied on the caller's thread and stored by the sink's own thread in one
// commit every commitSeconds; pruning runs on that thread between commits.
// stopped() commits what is left and writes the open tier rows, so the
// history then holds exactly the rounds counted. When a commit fails
// (a full disk), its rounds are counted as not stored and the log says so
// once, and once more when a later commit succeeds.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "history_options.h"
#include "history_store.h"
#include "round_sink.h"

namespace hist {

// Pruning runs this often, and again after the next commit while it has
// more to do; each time a few steps of a few hundred rows.
constexpr std::chrono::seconds kPruneEvery{60};
constexpr int kPruneSteps = 8;

// The store's retention from the options.
Retention retention_of(const HistoryOptions& options);

class HistorySink : public meter_host::RoundSink {
public:
  using LogLine = std::function<void(const std::string&)>;
  // Seconds since the epoch that retention counts back from.
  using Clock = std::function<std::int64_t()>;

  // `store` is open; the thread starts here.
  HistorySink(std::shared_ptr<HistoryStore> store, const HistoryOptions& options, LogLine log, Clock now = {});
  ~HistorySink() override;
  HistorySink(const HistorySink&) = delete;
  HistorySink& operator=(const HistorySink&) = delete;

  const char* sink_name() const override { return "history"; }
  void round_completed(const meter_host::CompletedRound& round) override;
  void alarm_changed(const meter_host::AlarmChange& change) override;
  void stopped(const meter_host::RunEnd& end) override;

  // The telemetry's messages go into the next commit, with the rounds;
  // rows the broker acknowledged are deleted by it. Any thread.
  void queue(OutboxMessage message);
  void sent(const std::vector<std::int64_t>& rows);

  // Commits what has been handed over so far and returns when it is done.
  void flush();
  unsigned rounds_stored() const { return stored_; }
  unsigned rounds_not_stored() const { return notStored_; }
  // For a status line: "history ok", or why it is not.
  std::string state_text() const;

private:
  void run();
  void store(Batch& batch);
  void prune_when_due();

  std::shared_ptr<HistoryStore> store_;
  LogLine log_;
  Clock now_;
  std::chrono::milliseconds commitEvery_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Batch pending_;
  std::uint64_t flushAsked_ = 0;
  std::uint64_t flushDone_ = 0;
  bool stopping_ = false;
  bool ended_ = false;

  // The thread's own.
  bool failing_ = false;
  unsigned missed_ = 0;  // since storing stopped
  bool pruneFailing_ = false;
  bool pruneMore_ = false;
  std::chrono::steady_clock::time_point nextPrune_{};

  std::atomic<unsigned> stored_{0};
  std::atomic<unsigned> notStored_{0};
  std::atomic<bool> storing_{true};
  std::thread thread_;
};

}  // namespace hist
