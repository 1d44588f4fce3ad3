// Fills a new history file's outbox with what a day at meter-host's
// defaults leaves while the broker is away: one state message a minute for
// 24 h (the last a minute ago) and a few alarm changes among them. Blocks
// and alarms are a real run's, taken from another history file, so that
// the messages have the sizes of the field.
//   make_day_outbox SOURCE_DB OUT_DB
// Prints "MESSAGES BYTES": the counted messages stored and the outbox's bytes.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "acquisition/data_block.h"
#include "history_store.h"
#include "payloads.h"

namespace {

constexpr int kMinutesPerDay = 1440;
constexpr std::size_t kAlarms = 8;

int fail(const std::string& what) {
  std::fprintf(stderr, "make_day_outbox: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_day_outbox SOURCE_DB OUT_DB\n");
    return 2;
  }
  // An existing file would add its own outbox to the count.
  struct stat st {};
  if (::stat(argv[2], &st) == 0) return fail(std::string(argv[2]) + " exists");

  std::string error;
  hist::HistoryStore source;
  if (!source.open_to_read(argv[1], &error)) return fail(error);
  std::vector<hist::Record> blocks;
  if (!source.for_each_record(std::nullopt, [&](const hist::Record& r) { return blocks.push_back(r), true; }, &error))
    return fail(error);
  blocks.erase(std::remove_if(blocks.begin(), blocks.end(),
                              [&](const hist::Record& r) {
                                return r.dataId != blocks.front().dataId || r.block.size() != kvrm::kBlockSize;
                              }),
               blocks.end());
  if (blocks.empty()) return fail(std::string(argv[1]) + " holds no block");
  const std::uint32_t dataId = blocks.front().dataId;
  std::vector<meter_host::AlarmEvent> events = source.alarm_events(dataId, &error);
  if (!error.empty()) return fail(error);
  if (events.size() > kAlarms) events.resize(kAlarms);

  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t first = now - 86400;
  hist::Batch batch;
  for (int i = 0; i < kMinutesPerDay; ++i) {
    const std::int64_t t = first + 60LL * i;
    const hist::Record& r = blocks[static_cast<std::size_t>(i) % blocks.size()];
    batch.messages.push_back(telemetry::state_message(dataId, static_cast<unsigned>(i + 1), t, r.block.data()));
  }
  // Spread over the day, each between two state messages.
  for (std::size_t k = 0; k < events.size(); ++k) {
    meter_host::AlarmChange c;
    c.meter.dataId = dataId;
    c.time = first + static_cast<std::int64_t>((k + 0.5) * 86400 / events.size()) + 30;
    c.event = events[k];
    batch.messages.push_back(telemetry::alarm_message(c));
  }
  // Numbers are given in the order stored: oldest first, as meter-host would.
  std::stable_sort(batch.messages.begin(), batch.messages.end(),
                   [](const hist::OutboxMessage& a, const hist::OutboxMessage& b) { return a.time < b.time; });

  hist::HistoryStore out;
  if (!out.open(argv[2], &error)) return fail(error);
  if (!out.commit(batch, &error)) return fail(error);
  const hist::OutboxFigures f = out.outbox_figures();
  std::printf("%lld %lld\n", static_cast<long long>(f.messages), static_cast<long long>(f.bytes));
  return 0;
}
