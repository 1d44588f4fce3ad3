#pragma once
// Rows of the history: the round's own time stamp, the data id and the
// chosen members, each the value command 801 gives for that block, decoded
// by the plug-in's own catalogue and publication code.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "block_time.h"
#include "history_reader.h"
#include "publication/signal_catalogue.h"

namespace meter_history {

using Signals = std::vector<const kvrm::SignalRow*>;

struct Selection {
  std::optional<std::uint32_t> meter;
  Signals signals;
  std::optional<std::int64_t> from;  // BlockTime keys, both ends included
  std::optional<std::int64_t> to;
};

struct HistoryRow {
  std::uint32_t dataId = 0;
  readings::BlockTime time;
  std::vector<double> values;  // in the order of the selection's signals
};

// The 230 numeric members, in catalogue order.
Signals all_numeric_signals();

// Members by name; the error names an unknown one and the nearest member.
std::optional<Signals> select_signals(const std::vector<std::string>& names, std::string* error);

// Fills `row` from one stored block.
void decode_row(const unsigned char* block, std::uint32_t dataId, const Signals& signals, HistoryRow& row);

struct ReadCounts {
  std::size_t rows = 0;
  std::size_t refused = 0;  // blocks that are not 915 bytes long
};

// A row of a tier: the period's start, its data id, the rounds it holds
// and, per chosen member, the lowest, mean and highest value (NaN for a
// member without a finite value in the period).
struct StepRow {
  std::uint32_t dataId = 0;
  readings::BlockTime time;
  std::uint32_t rounds = 0;
  struct Stats {
    double min, mean, max;
  };
  std::vector<Stats> values;
};

// The tier of a --step text ("1m", "1h"); nothing for another text.
std::optional<std::size_t> step_tier(const std::string& step);

// A time of the clock as the local time a block would carry.
readings::BlockTime local_block_time(std::int64_t epoch);

// The selected rows of a tier, oldest first.
bool read_step_rows(HistoryReader& reader, std::size_t tier, const Selection& selection,
                    const std::function<void(const StepRow&)>& each, ReadCounts* counts, std::string* error);

// The selected rows in the order stored.
bool read_rows(HistoryReader& reader, const Selection& selection, const std::function<void(const HistoryRow&)>& each,
               ReadCounts* counts, std::string* error);

}  // namespace meter_history
