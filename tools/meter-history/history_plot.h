#pragma once
// Charts of the history through gnuplot, run as a child process: the
// chosen members over the rounds' local time, the unit on the value axis
// (a second unit on the right-hand axis), a legend of the member names.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history_rows.h"

namespace meter_history {

struct PlotLayout {
  std::string outPath;  // .png or .svg
  std::string title;
  std::string dataPath;
  std::vector<std::uint32_t> meters;  // data block m * signals + i: meter m, signal i
  Signals signals;
  std::int64_t spanSeconds = 0;  // from the first round to the last
};

// One curve's points: seconds on the plot's time axis, the value (NaN
// where there is none).
struct PlotPoint {
  std::int64_t x;
  double y;
};

// The points a chart can show: beyond `buckets` runs of points, each run
// gives its lowest and its highest point, in time order, so every peak and
// dip stays on the chart and gnuplot draws a few thousand points instead of
// a day's 57,600. A run without a finite value gives one NaN point (a gap).
std::vector<PlotPoint> min_max_points(const std::vector<PlotPoint>& points, std::size_t buckets);

// The unit of each signal; at most two different units fit the two value
// axes. The error says which units clash.
bool check_units(const Signals& signals, std::string* error);

// The gnuplot program for the layout's data file. Pure.
std::string plot_script(const PlotLayout& layout);

// Seconds of a local time counted as if it were UTC: gnuplot's time axis
// then shows the local time as stored.
std::int64_t plot_seconds(const readings::BlockTime& t);

// Where a chart's points come from: the blocks, or a tier's means.
struct PlotSource {
  std::optional<std::size_t> tier;  // none: the blocks
};

// First start of each part of the file, seconds since the epoch (none for
// an empty part): part 0 the blocks, then the tiers in kTiers order.
using PartStarts = std::vector<std::optional<std::int64_t>>;

// The part that holds the start of the span: the blocks when they reach
// back to it (within a minute), else the finest tier that does, else the
// one that reaches back furthest. Pure.
PlotSource choose_source(const PartStarts& starts, std::optional<std::int64_t> spanStart);

// Reads the selection (from `source`), writes the data file next to
// nothing of the user's (a temporary file), runs gnuplot and checks that
// the chart was written.
bool plot_history(HistoryReader& reader, const Selection& selection, const PlotSource& source,
                  const std::string& outPath, const std::string& title, ReadCounts* counts, std::string* error);

}  // namespace meter_history
