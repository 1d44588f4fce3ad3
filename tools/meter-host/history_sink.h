#pragma once
// Stores every completed round's block and every alarm change in the
// history database, on a thread of its own: the round's thread only
// queues a copy. stopped() stores what is queued before it returns, so the
// history holds exactly the rounds counted.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

#include "history.h"
#include "host_log.h"
#include "round_sink.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace meter_host {

struct HostOptions;
// --history.
void add_history_options(CLI::App& app, HostOptions& o, const std::string& group);

class HistorySink : public RoundSink {
public:
  HistorySink(History& history, Log& log);
  ~HistorySink() override;
  const char* sink_name() const override { return "history"; }
  void round_completed(const CompletedRound& r) override;
  void alarm_changed(const AlarmChange& c) override;
  void stopped(const RunEnd&) override;
  unsigned failures() const { return failures_; }

private:
  struct Round {
    std::uint32_t dataId;
    std::time_t time;
    std::vector<unsigned char> block;
  };
  using Item = std::variant<Round, AlarmChange>;
  void run();
  void store(const Item& item);
  void finish();

  History& history_;
  Log& log_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
  bool done_ = false;
  std::atomic<unsigned> failures_{0};
  std::thread thread_;
};

}  // namespace meter_host
