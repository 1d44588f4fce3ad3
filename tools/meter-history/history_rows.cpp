#include "history_rows.h"

#include <cmath>
#include <ctime>

#include "acquisition/data_block.h"
#include "config_check.h"
#include "publication/signal_value.h"
#include "signal_display.h"

namespace meter_history {

Signals all_numeric_signals() {
  Signals out;
  for (std::size_t i = 0; i < kvrm::kNumericSignals; ++i) out.push_back(&kvrm::kSignalCatalogue[i]);
  return out;
}

std::optional<Signals> select_signals(const std::vector<std::string>& names, std::string* error) {
  Signals out;
  for (const std::string& name : names) {
    const kvrm::SignalRow* row = readings::catalogue_row(name);
    if (!row) {
      *error = "\"" + name + "\" is not a member of the snapshot";
      const std::string nearest = readings::nearest_member(name);
      if (!nearest.empty()) *error += " (did you mean \"" + nearest + "\"?)";
      return std::nullopt;
    }
    if (row->decoding == kvrm::Decoding::Time) {
      *error = "\"" + name + "\" is the time of the reading, every row starts with it";
      return std::nullopt;
    }
    out.push_back(row);
  }
  return out;
}

void decode_row(const unsigned char* block, std::uint32_t dataId, const Signals& signals, HistoryRow& row) {
  row.dataId = dataId;
  row.time = readings::block_time(block);
  row.values.resize(signals.size());
  for (std::size_t i = 0; i < signals.size(); ++i) row.values[i] = kvrm::signal_value(block, *signals[i]);
}

bool read_rows(HistoryReader& reader, const Selection& selection, const std::function<void(const HistoryRow&)>& each,
               ReadCounts* counts, std::string* error) {
  HistoryRow row;
  return reader.for_each(
      selection.meter,
      [&](const StoredBlock& b) {
        if (b.length != kvrm::kBlockSize || !b.block) {
          ++counts->refused;
          return true;
        }
        const std::int64_t key = readings::block_time(b.block).key();
        if ((selection.from && key < *selection.from) || (selection.to && key > *selection.to)) return true;
        decode_row(b.block, b.dataId, selection.signals, row);
        ++counts->rows;
        each(row);
        return true;
      },
      error);
}

std::optional<std::size_t> step_tier(const std::string& step) {
  for (std::size_t t = 0; t < hist::kTiers.size(); ++t)
    if (step == hist::kTiers[t].step) return t;
  return std::nullopt;
}

readings::BlockTime local_block_time(std::int64_t epoch) {
  const std::time_t t = static_cast<std::time_t>(epoch);
  std::tm tm{};
  localtime_r(&t, &tm);
  readings::BlockTime b;
  b.year = tm.tm_year + 1900;
  b.month = tm.tm_mon + 1;
  b.day = tm.tm_mday;
  b.hour = tm.tm_hour;
  b.minute = tm.tm_min;
  b.second = tm.tm_sec;
  return b;
}

bool read_step_rows(HistoryReader& reader, std::size_t tier, const Selection& selection,
                    const std::function<void(const StepRow&)>& each, ReadCounts* counts, std::string* error) {
  StepRow out;
  return reader.for_each_tier(
      tier, selection.meter,
      [&](const hist::TierRow& row) {
        out.time = local_block_time(row.stats.start);
        const std::int64_t key = out.time.key();
        if ((selection.from && key < *selection.from) || (selection.to && key > *selection.to)) return true;
        out.dataId = row.dataId;
        out.rounds = row.stats.rounds;
        out.values.clear();
        for (const kvrm::SignalRow* s : selection.signals) {
          const hist::MemberStats& m = row.stats.members[static_cast<std::size_t>(s - kvrm::kSignalCatalogue.data())];
          const double nan = std::nan("");
          out.values.push_back(m.values ? StepRow::Stats{m.min, m.mean(), m.max} : StepRow::Stats{nan, nan, nan});
        }
        ++counts->rows;
        each(out);
        return true;
      },
      error);
}

}  // namespace meter_history
