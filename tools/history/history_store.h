#pragma once
// The history file: the rounds' blocks, the alarms raised and cleared, and
// the per-minute and per-hour tiers computed from the rounds as they are
// stored. WAL journal with synchronous=NORMAL: writes go sequentially into
// the log and a commit is a handful of pages; a power cut may lose the last
// commits but never corrupts the file. One connection; every call takes
// the store's lock, so the writer's thread and a start-up read may meet.
#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "block_codec.h"
#include "round_sink.h"
#include "tier.h"

struct sqlite3;

namespace hist {

class Statements;
using meter_host::AlarmEvent;

struct StoredRound {
  std::uint32_t dataId = 0;
  std::int64_t time = 0;  // the block's time stamp, seconds since the epoch
  std::vector<unsigned char> block;
};

struct StoredAlarm {
  std::int64_t time = 0;
  AlarmEvent event;
};

// A message for the broker, as it waits in the outbox. A counted message
// gets its meter's next sequence number when it is stored; its body is a
// JSON object without it, and the number goes in front when it is sent.
struct OutboxMessage {
  std::uint32_t dataId = 0;
  bool counted = true;
  std::string kind;  // "state" messages are dropped first when the outbox is over its bounds
  std::int64_t time = 0;
  std::string topic;  // below the prefix
  bool retain = false;
  std::string body;
};

// A message read back from the outbox, ready to send.
struct QueuedMessage {
  std::int64_t id = 0;
  std::uint32_t dataId = 0;
  std::int64_t seq = 0;  // 0: not counted
  std::string topic;
  bool retain = false;
  std::string payload;  // the body, with "seq" first when counted
};

// A run of one meter's sequence numbers dropped from the outbox.
struct DroppedRun {
  std::uint32_t dataId = 0;
  std::int64_t from = 0;
  std::int64_t to = 0;
  const char* reason = "";  // "outbox full" or "outbox age"
};

// How much the outbox may hold, and the message that names a run dropped
// (a counted one; its sequence number is given when it is stored).
struct OutboxLimits {
  std::int64_t maxBytes = 64LL << 20;
  double maxDays = 30;
  std::function<OutboxMessage(const DroppedRun&, std::int64_t now)> gapMessage;
};

struct OutboxFigures {
  std::int64_t messages = 0;
  std::int64_t bytes = 0;
  std::optional<std::int64_t> oldest;  // the time of the oldest message
  std::uint64_t dropped = 0;  // since the store was opened
};

// What one commit stores.
struct Batch {
  Batch() = default;
  Batch(std::vector<StoredRound> r, std::vector<StoredAlarm> a) : rounds(std::move(r)), alarms(std::move(a)) {}

  std::vector<StoredRound> rounds;
  std::vector<StoredAlarm> alarms;
  std::vector<OutboxMessage> messages;
  std::vector<std::int64_t> sent;  // outbox rows the broker acknowledged
  std::int64_t now = 0;  // what the outbox's age counts back from; 0: not checked
  bool empty() const { return rounds.empty() && alarms.empty() && messages.empty() && sent.empty(); }
};

// One stored block; the blocks of one commit of a meter share a row id.
struct Record {
  std::int64_t id = 0;
  std::uint32_t dataId = 0;
  std::int64_t time = 0;
  std::vector<unsigned char> block;
};

struct TierRow {
  std::uint32_t dataId = 0;
  TierStats stats;  // stats.start: the period's start, seconds since the epoch
};

constexpr std::int64_t kDay = 86400;

// How long each part is kept, and the cap on the file.
struct Retention {
  double keepRawDays = 3;
  double keepMinuteDays = 35;
  double keepHourDays = 3650;
  std::int64_t maxBytes = 2048LL << 20;
};

// What one part of the file holds for one meter: blocks or tier rows.
struct Span {
  std::uint32_t dataId = 0;
  std::int64_t rows = 0;
  std::int64_t first = 0;  // time (records) or period start (tiers)
  std::int64_t last = 0;
};

// A time as the alarms table and the log show it: local, to the second.
std::string local_time_text(std::int64_t time);

// The rows of tier `tier` (an index of kTiers), oldest first, from any
// connection to a file of the current layout (the readers' read-only one).
bool read_tier_rows(sqlite3* db, std::size_t tier, std::optional<std::uint32_t> dataId,
                    const std::function<bool(const TierRow&)>& each, std::string* error);

// Rows, time span and meter of each part of a file of the current layout:
// part 0 the records, then the tiers in the order of kTiers.
bool read_spans(sqlite3* db, std::vector<std::vector<Span>>* parts, std::string* error);

class HistoryStore {
public:
  HistoryStore();
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // Opens or creates the file for writing: a file of the first layout is
  // moved to the current one, the tiers catch up with records stored after
  // their last row (a crash), a foreign or newer file is refused untouched.
  bool open(const std::string& path, std::string* error);
  // Opens a file of the current layout for the reads only: it may be one
  // that a running meter-host writes.
  bool open_to_read(const std::string& path, std::string* error);
  void set_retention(const Retention& retention);

  // One transaction: the rounds' blocks, the alarm rows, the tier rows of
  // the periods the rounds end (and of the coarser periods still open).
  // On failure nothing of the batch is stored and the tiers are as before.
  bool commit(const Batch& batch, std::string* error);
  // The rows of the periods still open (at a stop).
  bool write_open_periods(std::string* error);

  // Up to `steps` deletions of a few hundred rows each, in one
  // transaction: rows past their retention (counted back from `now`), then,
  // while the file's pages in use exceed the cap, the oldest blocks, then
  // the oldest minutes. *more when another call has work to do.
  bool prune(std::int64_t now, int steps, bool* more, std::string* error);

  // Reads.
  std::optional<Record> newest(std::uint32_t dataId, std::string* error);
  bool for_each_record(std::optional<std::uint32_t> dataId, const std::function<bool(const Record&)>& each,
                       std::string* error);
  // Every block of the data id, oldest first.
  std::vector<Record> records(std::uint32_t dataId, std::string* error);
  // Rows of tier `tier` (an index of kTiers), oldest first.
  bool for_each_tier_row(std::size_t tier, std::optional<std::uint32_t> dataId,
                         const std::function<bool(const TierRow&)>& each, std::string* error);
  std::vector<AlarmEvent> alarm_events(std::uint32_t dataId, std::string* error);
  // The last recorded state of every alarm id of the data id.
  std::map<std::string, bool> alarm_states(std::uint32_t dataId, std::string* error);
  // Pages in use, in bytes (the file less its free pages).
  std::int64_t used_bytes();

  // The outbox. Messages are stored and acknowledged ones deleted by
  // commit(); over its limits a commit drops the oldest (state messages
  // first) and stores a message naming each run of numbers dropped.
  void set_outbox_limits(OutboxLimits limits);
  // Up to `limit` messages after row `after`, oldest first.
  bool outbox_after(std::int64_t after, std::size_t limit, std::vector<QueuedMessage>* out, std::string* error);
  OutboxFigures outbox_figures();
  // Grows with every commit that stored messages: a sender polls it.
  std::uint64_t outbox_generation() const { return outboxGeneration_; }

private:
  struct OpenPeriod {
    bool active = false;
    std::int64_t rowId = 0;  // 0: not written yet
    std::int64_t upto = 0;
    TierStats stats;
  };
  using MeterPeriods = std::array<OpenPeriod, kTiers.size()>;

  bool set_up(std::string* error);
  bool catch_up_tiers(std::string* error);
  bool load_open_periods(std::int64_t* from, std::string* error);
  bool store_row(std::uint32_t dataId, const TimedBlock* first, const TimedBlock* last, std::string* error);
  bool add_row(std::uint32_t dataId, std::int64_t rowId, const std::vector<TimedBlock>& blocks, std::string* error);
  bool write_period(std::size_t tier, std::uint32_t dataId, OpenPeriod& period, std::string* error);
  bool prune_step(std::int64_t now, bool* deleted, std::string* error);
  std::int64_t used_bytes_locked();
  void fail(std::string* error);
  bool load_outbox(std::string* error);
  bool store_message(const OutboxMessage& m, std::string* error);
  bool delete_sent(const std::vector<std::int64_t>& ids, std::string* error);
  bool outbox_due(std::int64_t now);
  bool bound_outbox(std::int64_t now, std::string* error);
  using DroppedSeqs = std::map<std::uint32_t, std::vector<std::int64_t>>;
  bool drop_oldest(const std::string& filter, std::optional<std::int64_t> bound, const std::function<bool()>& more,
                   DroppedSeqs* dropped, std::string* error);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<Statements> statements_;
  Retention retention_;
  std::map<std::uint32_t, MeterPeriods> open_;

  OutboxLimits outboxLimits_;
  std::map<std::uint32_t, std::int64_t> lastSeq_;  // as stored
  std::int64_t outboxRows_ = 0;
  std::int64_t outboxBytes_ = 0;
  std::uint64_t dropped_ = 0;
  std::atomic<std::uint64_t> outboxGeneration_{0};
};

}  // namespace hist
