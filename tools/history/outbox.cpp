// The telemetry outbox in the history file: messages are stored and sent
// ones deleted in the history's own commits, so that the outbox adds no
// transactions of its own to the flash; its bounds are kept there too.
#include <algorithm>

#include "history_store.h"
#include "sql.h"

namespace hist {

namespace {

constexpr int kDropRows = 256;
// Over the size bound, the outbox is cut to this share of it, so that it
// is not cut again by every commit.
constexpr std::int64_t kCutToPercent = 90;

std::string with_seq(const std::string& body, std::int64_t seq) {
  const std::string head = "{\"seq\":" + std::to_string(seq);
  if (body.size() < 2 || body.front() != '{') return head + "}";
  return body == "{}" ? head + "}" : head + "," + body.substr(1);
}

// Consecutive numbers, each run once.
template <class Each>
void runs_of(std::vector<std::int64_t> seqs, Each&& each) {
  std::sort(seqs.begin(), seqs.end());
  for (std::size_t i = 0; i < seqs.size();) {
    std::size_t j = i;
    while (j + 1 < seqs.size() && seqs[j + 1] == seqs[j] + 1) ++j;
    each(seqs[i], seqs[j]);
    i = j + 1;
  }
}

}  // namespace

void HistoryStore::set_outbox_limits(OutboxLimits limits) {
  std::lock_guard<std::mutex> lock(mutex_);
  outboxLimits_ = std::move(limits);
}

bool HistoryStore::load_outbox(std::string* error) {
  lastSeq_.clear();
  {
    Use s(*statements_, "SELECT count(*), coalesce(sum(length(topic) + length(body)), 0) FROM outbox", error);
    if (s.step() != SQLITE_ROW) {
      fail(error);
      return false;
    }
    outboxRows_ = s.integer(0);
    outboxBytes_ = s.integer(1);
  }
  Use s(*statements_, "SELECT data_id, last FROM outbox_seq", error);
  int rc;
  while ((rc = s.step()) == SQLITE_ROW) lastSeq_[static_cast<std::uint32_t>(s.integer(0))] = s.integer(1);
  if (rc != SQLITE_DONE) fail(error);
  return rc == SQLITE_DONE;
}

bool HistoryStore::store_message(const OutboxMessage& m, std::string* error) {
  std::int64_t seq = 0;
  if (m.counted) {
    seq = ++lastSeq_[m.dataId];
    Use s(*statements_,
          "INSERT INTO outbox_seq (data_id, last) VALUES (?, ?)"
          " ON CONFLICT (data_id) DO UPDATE SET last = excluded.last",
          error);
    if (!s.bind(m.dataId).bind(seq).run()) {
      fail(error);
      return false;
    }
  }
  Use s(*statements_,
        "INSERT INTO outbox (data_id, seq, kind, time, topic, retain, body) VALUES (?, ?, ?, ?, ?, ?, ?)", error);
  s.bind(m.dataId);
  if (m.counted)
    s.bind(seq);
  else
    s.bind_null();
  if (!s.bind(m.kind).bind(m.time).bind(m.topic).bind(m.retain ? 1 : 0).bind_blob(m.body.data(), m.body.size()).run()) {
    fail(error);
    return false;
  }
  ++outboxRows_;
  outboxBytes_ += static_cast<std::int64_t>(m.topic.size() + m.body.size());
  return true;
}

bool HistoryStore::delete_sent(const std::vector<std::int64_t>& ids, std::string* error) {
  for (const std::int64_t id : ids) {
    // A row dropped meanwhile is simply not there any more.
    Use s(*statements_, "DELETE FROM outbox WHERE id = ? RETURNING length(topic) + length(body)", error);
    s.bind(id);
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
      --outboxRows_;
      outboxBytes_ -= s.integer(0);
    }
    if (rc != SQLITE_DONE) {
      fail(error);
      return false;
    }
  }
  return true;
}

// Deletes the oldest rows that `filter` selects (its parameter, if it has
// one, bound to `bound`) for as long as `more` holds; the sequence numbers
// of the counted ones go to `dropped`.
bool HistoryStore::drop_oldest(const std::string& filter, std::optional<std::int64_t> bound,
                               const std::function<bool()>& more, DroppedSeqs* dropped, std::string* error) {
  struct Row {
    std::int64_t id, dataId, seq, bytes;
  };
  while (more()) {
    std::vector<Row> rows;
    {
      Use s(*statements_,
            "SELECT id, data_id, coalesce(seq, 0), length(topic) + length(body) FROM outbox WHERE " + filter +
                " ORDER BY id LIMIT " + std::to_string(kDropRows),
            error);
      if (bound) s.bind(*bound);
      int rc;
      while ((rc = s.step()) == SQLITE_ROW) rows.push_back(Row{s.integer(0), s.integer(1), s.integer(2), s.integer(3)});
      if (rc != SQLITE_DONE) {
        fail(error);
        return false;
      }
    }
    if (rows.empty()) return true;
    for (const Row& r : rows) {
      if (!more()) return true;
      Use s(*statements_, "DELETE FROM outbox WHERE id = ?", error);
      if (!s.bind(r.id).run()) {
        fail(error);
        return false;
      }
      if (r.seq > 0) (*dropped)[static_cast<std::uint32_t>(r.dataId)].push_back(r.seq);
      --outboxRows_;
      outboxBytes_ -= r.bytes;
      ++dropped_;
    }
  }
  return true;
}

// Whether a bound may be exceeded: the size is known, the age is read off
// the oldest row (rows come in time order but for a few seconds).
bool HistoryStore::outbox_due(std::int64_t now) {
  const OutboxLimits& limits = outboxLimits_;
  if (limits.maxBytes > 0 && outboxBytes_ > limits.maxBytes) return true;
  if (limits.maxDays <= 0 || outboxRows_ == 0) return false;
  std::string error;
  Use s(*statements_, "SELECT time FROM outbox ORDER BY id LIMIT 1", &error);
  return s.step() == SQLITE_ROW && s.integer(0) < now - static_cast<std::int64_t>(limits.maxDays * kDay);
}

bool HistoryStore::bound_outbox(std::int64_t now, std::string* error) {
  const OutboxLimits& limits = outboxLimits_;
  const auto always = [] { return true; };
  DroppedSeqs aged, over;
  if (limits.maxDays > 0) {
    const std::int64_t cutoff = now - static_cast<std::int64_t>(limits.maxDays * kDay);
    if (!drop_oldest("kind = 'state' AND time < ?", cutoff, always, &aged, error) ||
        !drop_oldest("time < ?", cutoff, always, &aged, error))
      return false;
  }
  if (limits.maxBytes > 0 && outboxBytes_ > limits.maxBytes) {
    const std::int64_t target = limits.maxBytes / 100 * kCutToPercent;
    const auto overTarget = [&] { return outboxBytes_ > target; };
    if (!drop_oldest("kind = 'state'", std::nullopt, overTarget, &over, error) ||
        !drop_oldest("1", std::nullopt, overTarget, &over, error))
      return false;
  }
  if (!limits.gapMessage) return true;
  for (const auto& group : {std::pair{"outbox age", &aged}, std::pair{"outbox full", &over}})
    for (const auto& meter : *group.second) {
      const char* reason = group.first;
      const std::uint32_t dataId = meter.first;
      bool ok = true;
      runs_of(meter.second, [&](std::int64_t from, std::int64_t to) {
        ok = ok && store_message(limits.gapMessage(DroppedRun{dataId, from, to, reason}, now), error);
      });
      if (!ok) return false;
    }
  return true;
}

bool HistoryStore::outbox_after(std::int64_t after, std::size_t limit, std::vector<QueuedMessage>* out,
                                std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  out->clear();
  if (!db_) return true;
  Use s(*statements_, "SELECT id, data_id, seq, topic, retain, body FROM outbox WHERE id > ? ORDER BY id LIMIT ?",
        error);
  s.bind(after).bind(static_cast<std::int64_t>(limit));
  int rc;
  while ((rc = s.step()) == SQLITE_ROW) {
    QueuedMessage m;
    m.id = s.integer(0);
    m.dataId = static_cast<std::uint32_t>(s.integer(1));
    m.seq = s.is_null(2) ? 0 : s.integer(2);
    m.topic = s.text(3);
    m.retain = s.integer(4) != 0;
    const auto* bytes = static_cast<const char*>(s.blob(5));
    std::string body(bytes ? bytes : "", s.bytes(5));
    m.payload = m.seq > 0 ? with_seq(body, m.seq) : std::move(body);
    out->push_back(std::move(m));
  }
  if (rc != SQLITE_DONE) fail(error);
  return rc == SQLITE_DONE;
}

OutboxFigures HistoryStore::outbox_figures() {
  std::lock_guard<std::mutex> lock(mutex_);
  OutboxFigures f;
  f.messages = outboxRows_;
  f.bytes = outboxBytes_;
  f.dropped = dropped_;
  if (!db_ || outboxRows_ == 0) return f;
  std::string error;
  Use s(*statements_, "SELECT time FROM outbox ORDER BY id LIMIT 1", &error);
  if (s.step() == SQLITE_ROW) f.oldest = s.integer(0);
  return f;
}

}  // namespace hist
