// meter-history: the history that meter-host --history stores, read back
// for a person: the meters it holds, CSV and line-protocol exports, charts.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "history_export.h"
#include "history_plot.h"
#include "history_reader.h"
#include "history_rows.h"

#ifndef METER_HISTORY_VERSION
#define METER_HISTORY_VERSION "unversioned"
#endif

namespace {

using namespace meter_history;

constexpr int kFailure = 1;
constexpr int kBadUsage = 2;

struct Options {
  std::string db;
  std::optional<std::uint32_t> meter;
  std::vector<std::string> signals;
  std::string from;
  std::string to;
  std::string out;
  std::string step;  // empty: the blocks
};

// Output in large writes: a day of CSV is tens of megabytes.
class Output {
public:
  ~Output() { flush(); }
  std::string& text() { return text_; }
  void maybe_flush() {
    if (text_.size() > (1u << 20)) flush();
  }
  bool flush() {
    ok_ = ok_ && std::fwrite(text_.data(), 1, text_.size(), stdout) == text_.size();
    text_.clear();
    return ok_ && std::fflush(stdout) == 0;
  }

private:
  std::string text_;
  bool ok_ = true;
};

// "2024-03-05", "2024-03-05 07:04", "2024-03-05T07:04:09"; a date alone
// as the end of a span means the end of that day.
bool time_key(const std::string& text, bool endOfSpan, std::optional<std::int64_t>* key, std::string* error) {
  if (text.empty()) return true;
  auto t = readings::parse_time_text(text);
  if (!t) {
    *error = "\"" + text + "\" is not a time: write 2024-03-05, 2024-03-05T07:04 or 2024-03-05T07:04:09";
    return false;
  }
  if (endOfSpan && text.find_first_of(" T") == std::string::npos) {
    t->hour = 23;
    t->minute = 59;
    t->second = 59;
  }
  *key = t->key();
  return true;
}

bool make_selection(const Options& o, bool allByDefault, Selection* s, std::string* error) {
  s->meter = o.meter;
  if (o.signals.empty()) {
    if (allByDefault) s->signals = all_numeric_signals();
  } else {
    auto chosen = select_signals(o.signals, error);
    if (!chosen) return false;
    s->signals = *chosen;
  }
  return time_key(o.from, false, &s->from, error) && time_key(o.to, true, &s->to, error);
}

void report_refused(const ReadCounts& counts) {
  if (counts.refused)
    std::fprintf(stderr, "meter-history: %zu records are not 915-byte blocks and were left out\n", counts.refused);
}

// Files of the first layout hold blocks only: their span is read from the
// blocks themselves.
int list_blocks(HistoryReader& reader) {
  struct Meter {
    std::size_t records = 0;
    readings::BlockTime first, last;
  };
  std::map<std::uint32_t, Meter> meters;
  std::size_t refused = 0;
  std::string error;
  const bool ok = reader.for_each(
      std::nullopt,
      [&](const StoredBlock& b) {
        if (b.length != kvrm::kBlockSize) {
          ++refused;
          return true;
        }
        const readings::BlockTime t = readings::block_time(b.block);
        Meter& m = meters[b.dataId];
        if (m.records == 0 || t.key() < m.first.key()) m.first = t;
        if (m.records == 0 || t.key() > m.last.key()) m.last = t;
        ++m.records;
        return true;
      },
      &error);
  if (!ok) {
    std::fprintf(stderr, "meter-history: %s\n", error.c_str());
    return kFailure;
  }
  std::printf("%-10s %-6s %8s  %-19s  %-19s\n", "data id", "part", "rows", "first", "last");
  for (const auto& [id, m] : meters)
    std::printf("%-10u %-6s %8zu  %-19s  %-19s\n", id, "blocks", m.records, readings::iso_text(m.first).c_str(),
                readings::iso_text(m.last).c_str());
  report_refused(ReadCounts{0, refused});
  return 0;
}

int list_command(HistoryReader& reader, const std::string& path) {
  if (!reader.has_tiers()) return list_blocks(reader);
  std::vector<std::vector<hist::Span>> parts;
  std::string error;
  if (!reader.spans(&parts, &error)) {
    std::fprintf(stderr, "meter-history: %s\n", error.c_str());
    return kFailure;
  }
  // Per meter: its blocks, then each tier.
  std::map<std::uint32_t, std::vector<std::pair<std::string, hist::Span>>> meters;
  for (std::size_t p = 0; p < parts.size(); ++p)
    for (const hist::Span& span : parts[p])
      meters[span.dataId].emplace_back(p == 0 ? "blocks" : hist::kTiers[p - 1].step, span);
  std::printf("%-10s %-6s %8s  %-19s  %-19s\n", "data id", "part", "rows", "first", "last");
  for (const auto& [id, rows] : meters)
    for (const auto& [part, span] : rows)
      std::printf("%-10u %-6s %8lld  %-19s  %-19s\n", id, part.c_str(), static_cast<long long>(span.rows),
                  readings::iso_text(local_block_time(span.first)).c_str(),
                  readings::iso_text(local_block_time(span.last)).c_str());
  // The write-ahead log is part of the file's room on the flash.
  std::uintmax_t bytes = 0;
  for (const std::string& file : {path, path + "-wal"}) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec) bytes += size;
  }
  std::printf("file %s: %.1f MiB\n", path.c_str(), static_cast<double>(bytes) / (1 << 20));
  return 0;
}

// The end of an export: 0, or the failure status once said why (the
// output not written out first, then the read).
int export_failure(Output& out, bool ok, const std::string& error) {
  if (!out.flush()) {
    std::fprintf(stderr, "meter-history: cannot write the output\n");
    return kFailure;
  }
  if (!ok) {
    std::fprintf(stderr, "meter-history: %s\n", error.c_str());
    return kFailure;
  }
  return 0;
}

int export_command(HistoryReader& reader, const Selection& selection, bool csv, const std::string& step) {
  Output out;
  ReadCounts counts;
  std::string error;
  const auto tier = step_tier(step);
  if (tier) {
    if (csv) out.text() = csv_step_header(selection.signals);
    const bool ok = read_step_rows(
        reader, *tier, selection,
        [&](const StepRow& row) {
          if (csv)
            append_csv_step_row(out.text(), row);
          else
            append_step_line(out.text(), row, selection.signals, step);
          out.maybe_flush();
        },
        &counts, &error);
    if (const int failed = export_failure(out, ok, error)) return failed;
    if (!reader.has_tiers()) std::fprintf(stderr, "meter-history: this file has no tiers (an older layout)\n");
    return 0;
  }
  if (csv) out.text() = csv_header(selection.signals);
  const bool ok = read_rows(
      reader, selection,
      [&](const HistoryRow& row) {
        if (csv)
          append_csv_row(out.text(), row);
        else
          append_line(out.text(), row, selection.signals);
        out.maybe_flush();
      },
      &counts, &error);
  if (const int failed = export_failure(out, ok, error)) return failed;
  report_refused(counts);
  return 0;
}

int plot_command(HistoryReader& reader, const Selection& selection, const Options& o) {
  ReadCounts counts;
  std::string error;
  std::string title = o.db;
  if (o.meter) title += ", meter " + std::to_string(*o.meter);
  PlotSource source{step_tier(o.step)};
  if (o.step.empty() && reader.has_tiers()) {
    std::vector<std::vector<hist::Span>> parts;
    if (!reader.spans(&parts, &error)) {
      std::fprintf(stderr, "meter-history: %s\n", error.c_str());
      return kFailure;
    }
    PartStarts starts;
    for (const auto& part : parts) {
      std::optional<std::int64_t> first;
      for (const hist::Span& s : part)
        if ((!selection.meter || s.dataId == *selection.meter) && (!first || s.first < *first)) first = s.first;
      starts.push_back(first);
    }
    std::optional<std::int64_t> spanStart;
    if (!o.from.empty()) spanStart = readings::local_epoch(*readings::parse_time_text(o.from));
    source = choose_source(starts, spanStart);
  }
  if (!plot_history(reader, selection, source, o.out, title, &counts, &error)) {
    std::fprintf(stderr, "meter-history: %s\n", error.c_str());
    return kFailure;
  }
  report_refused(counts);
  if (!source.tier) {
    std::fprintf(stderr, "meter-history: %zu rounds plotted to %s\n", counts.rows, o.out.c_str());
  } else {
    std::fprintf(stderr, "meter-history: %s%zu %s plotted from the %s tier (their means) to %s\n",
                 o.step.empty() ? "the blocks of that span are no longer kept: " : "", counts.rows,
                 *source.tier == 0 ? "minutes" : "hours", *source.tier == 0 ? "per-minute" : "per-hour",
                 o.out.c_str());
  }
  return 0;
}

void add_filters(CLI::App* cmd, Options& o, bool withSignals) {
  cmd->add_option("--meter", o.meter, "only the records of this data id");
  if (withSignals)
    cmd->add_option("--signals", o.signals, "member names, comma-separated (default: all 230 numeric members)")
        ->delimiter(',');
  cmd->add_option("--from", o.from, "first round's time, e.g. 2024-03-05T07:00 (local time)");
  cmd->add_option("--to", o.to, "last round's time; a date alone means the end of that day");
  cmd->add_option("--step", o.step,
                  "read the per-minute (1m) or per-hour (1h) tier: min, mean and\nmax of each member over each period")
      ->check(CLI::IsMember({"1m", "1h"}));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"meter-history: the history that meter-host --history stores, read back for a person.\n"
               "Values are the plug-in's own: what command 801 gives for each stored block."};
  app.set_version_flag("--version", std::string("meter-history ") + METER_HISTORY_VERSION);
  app.require_subcommand(1);
  Options o;

  CLI::App* list = app.add_subcommand(
      "list", "each meter (data id): rows, first and last time of its blocks and of each tier; the file's size");
  list->add_option("DB", o.db, "history database")->required();

  CLI::App* csv = app.add_subcommand("csv", "one CSV row per stored round: time, data id, the members");
  csv->add_option("DB", o.db, "history database")->required();
  add_filters(csv, o, true);

  CLI::App* lines = app.add_subcommand("lines", "the same rows as line protocol (measurement kvrm4410t_q)");
  lines->add_option("DB", o.db, "history database")->required();
  add_filters(lines, o, true);

  CLI::App* plot = app.add_subcommand("plot", "a chart of chosen members over time, through gnuplot");
  plot->add_option("DB", o.db, "history database")->required();
  add_filters(plot, o, false);
  plot->add_option("--signals", o.signals, "member names, comma-separated")->delimiter(',')->required();
  plot->add_option("--out", o.out, "the chart: FILE.png or FILE.svg")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kBadUsage;
  }

  Selection selection;
  std::string error;
  if (!list->parsed() && !make_selection(o, !plot->parsed(), &selection, &error)) {
    std::fprintf(stderr, "meter-history: %s\n", error.c_str());
    return kBadUsage;
  }
  HistoryReader reader;
  if (!reader.open(o.db, &error)) {
    std::fprintf(stderr, "meter-history: %s\n", error.c_str());
    return kFailure;
  }
  if (list->parsed()) return list_command(reader, o.db);
  if (plot->parsed()) return plot_command(reader, selection, o);
  return export_command(reader, selection, csv->parsed(), o.step);
}
