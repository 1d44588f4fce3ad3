#include "history_plot.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "history_export.h"
#include "posix_io.h"
#include "signal_display.h"

namespace meter_history {

namespace {

// Fonts with the Chinese glyphs of the member names; fontconfig falls back
// along the list.
constexpr const char* kFont = "WenQuanYi Micro Hei,Noto Sans CJK SC,sans-serif";

std::string gp_string(const std::string& text) {
  // Single-quoted gnuplot strings take no escapes but a doubled quote.
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string unit_label(const std::string& unit) { return unit.empty() ? "power factor" : unit; }

std::vector<std::string> units_in_order(const Signals& signals) {
  std::vector<std::string> units;
  for (const kvrm::SignalRow* s : signals) {
    const std::string u = readings::unit_of(s->name).value_or("");
    if (std::find(units.begin(), units.end(), u) == units.end()) units.push_back(u);
  }
  return units;
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string find_program(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// A temporary file that goes away with this object.
class TempFile {
public:
  TempFile() {
    const auto dir = std::filesystem::temp_directory_path();
    std::string pattern = (dir / "meter-history-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd >= 0) {
      ::close(fd);
      path_ = pattern;
    }
  }
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

bool run_gnuplot(const std::string& script, std::string* error) {
  const std::string gnuplot = find_program("gnuplot");
  if (gnuplot.empty()) {
    *error = "gnuplot is not installed (apt install gnuplot-nox fonts-wqy-microhei)";
    return false;
  }
  posix_io::SpawnOptions options;
  options.pipeStdin = true;
  options.pipeStderr = true;
  posix_io::Process p = posix_io::Process::spawn({gnuplot}, options, error);
  if (!p.running()) return false;
  const bool written = posix_io::write_all(p.stdin_fd(), script.data(), script.size());
  p.close_stdin();
  const std::string messages = read_all(p.stderr_fd());
  const auto status = p.wait(std::chrono::minutes(5));
  if (!status) p.terminate();
  if (!written || !status || *status != 0) {
    *error = "gnuplot failed" + (messages.empty() ? std::string() : ": " + messages);
    return false;
  }
  return true;
}

// Twice as many points as a chart is wide: more would not show.
constexpr std::size_t kBuckets = 1280;

}  // namespace

std::vector<PlotPoint> min_max_points(const std::vector<PlotPoint>& points, std::size_t buckets) {
  if (buckets == 0 || points.size() <= 2 * buckets) return points;
  std::vector<PlotPoint> out;
  out.reserve(2 * buckets);
  const std::size_t n = points.size();
  for (std::size_t b = 0; b < buckets; ++b) {
    const std::size_t begin = b * n / buckets, end = (b + 1) * n / buckets;
    const PlotPoint* low = nullptr;
    const PlotPoint* high = nullptr;
    for (std::size_t i = begin; i < end; ++i) {
      const PlotPoint& p = points[i];
      if (!std::isfinite(p.y)) continue;
      if (!low || p.y < low->y) low = &p;
      if (!high || p.y > high->y) high = &p;
    }
    if (!low) {
      out.push_back(PlotPoint{points[begin].x, std::nan("")});
    } else if (low == high) {
      out.push_back(*low);
    } else {
      out.push_back(low < high ? *low : *high);  // both in one array: the earlier first
      out.push_back(low < high ? *high : *low);
    }
  }
  return out;
}

bool check_units(const Signals& signals, std::string* error) {
  const auto units = units_in_order(signals);
  if (units.size() <= 2) return true;
  *error = "the signals have " + std::to_string(units.size()) + " units (";
  for (std::size_t i = 0; i < units.size(); ++i) *error += (i ? ", " : "") + unit_label(units[i]);
  *error += "); a chart has two value axes: choose signals of at most two units";
  return false;
}

std::int64_t plot_seconds(const readings::BlockTime& t) {
  // Days from 1970-01-01 of a proleptic Gregorian date.
  const int y = t.year - (t.month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int mp = (t.month + 9) % 12;
  const int doy = (153 * mp + 2) / 5 + t.day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

std::string plot_script(const PlotLayout& l) {
  const auto units = units_in_order(l.signals);
  const bool svg = ends_with(l.outPath, ".svg");
  std::string s;
  s += "set encoding utf8\n";
  s += svg ? "set terminal svg size 1280,720 dynamic background rgb 'white' font " + gp_string(std::string(kFont) + ",12") + "\n"
           : "set terminal pngcairo size 1280,720 font " + gp_string(std::string(kFont) + ",11") + "\n";
  s += "set output " + gp_string(l.outPath) + "\n";
  s += "set datafile missing '?'\n";
  s += "set xdata time\nset timefmt '%s'\n";
  // Tick labels as fine as the span needs.
  const char* format = l.spanSeconds > 86400 ? "%m-%d %H:%M" : l.spanSeconds > 3600 ? "%H:%M" : "%H:%M:%S";
  s += "set format x " + gp_string(format) + "\n";
  s += "set xlabel 'local time'\n";
  s += "set ylabel " + gp_string(unit_label(units.at(0))) + "\n";
  if (units.size() > 1) s += "set y2label " + gp_string(unit_label(units[1])) + "\nset ytics nomirror\nset y2tics\n";
  s += "set grid\nset key outside below\n";
  s += "set title " + gp_string(l.title) + " noenhanced\n";
  s += "plot ";
  bool first = true;
  for (std::size_t m = 0; m < l.meters.size(); ++m) {
    for (std::size_t i = 0; i < l.signals.size(); ++i) {
      const std::string unit = readings::unit_of(l.signals[i]->name).value_or("");
      const bool right = units.size() > 1 && unit == units[1];
      std::string title = l.signals[i]->name;
      if (!unit.empty()) title += " (" + unit + ")";
      if (l.meters.size() > 1) title += ", meter " + std::to_string(l.meters[m]);
      s += first ? "" : ", \\\n     ";
      first = false;
      s += gp_string(l.dataPath) + " index " + std::to_string(m * l.signals.size() + i) + " using 1:2" +
           " with lines linewidth 1.5 axes x1" + (right ? "y2" : "y1") + " title " + gp_string(title) + " noenhanced";
    }
  }
  s += "\n";
  return s;
}

PlotSource choose_source(const PartStarts& starts, std::optional<std::int64_t> spanStart) {
  // A part's own grain: a block is as good as its minute.
  const auto grain = [](std::size_t part) { return part == 0 ? std::int64_t{60} : hist::kTiers[part - 1].seconds; };
  const auto source = [](std::size_t part) {
    return PlotSource{part ? std::optional<std::size_t>(part - 1) : std::nullopt};
  };
  std::optional<std::size_t> earliest;
  for (std::size_t part = 0; part < starts.size(); ++part) {
    if (!starts[part]) continue;
    bool holds = true;
    if (spanStart) {
      holds = *starts[part] <= *spanStart + grain(part);
    } else {
      // The whole history: no coarser part reaches back a period further.
      for (std::size_t coarser = part + 1; coarser < starts.size(); ++coarser)
        if (starts[coarser] && *starts[part] > *starts[coarser] + grain(coarser)) holds = false;
    }
    if (holds) return source(part);
    if (!earliest || *starts[part] < *starts[*earliest]) earliest = part;
  }
  return earliest ? source(*earliest) : PlotSource{};
}

bool plot_history(HistoryReader& reader, const Selection& selection, const PlotSource& source,
                  const std::string& outPath, const std::string& title, ReadCounts* counts, std::string* error) {
  if (!ends_with(outPath, ".png") && !ends_with(outPath, ".svg")) {
    *error = "the chart's file name must end in .png or .svg";
    return false;
  }
  if (!check_units(selection.signals, error)) return false;
  // One curve per meter and signal: gnuplot reads one data block each.
  std::map<std::uint32_t, std::vector<std::vector<PlotPoint>>> curves;
  PlotLayout layout;
  std::int64_t firstSecond = 0, lastSecond = 0;
  bool seen = false;
  const auto add = [&](std::uint32_t dataId, const readings::BlockTime& time, std::size_t i, double y) {
    auto [it, added] = curves.try_emplace(dataId, selection.signals.size());
    if (added) layout.meters.push_back(dataId);
    const std::int64_t x = plot_seconds(time);
    firstSecond = seen ? std::min(firstSecond, x) : x;
    lastSecond = seen ? std::max(lastSecond, x) : x;
    seen = true;
    it->second[i].push_back(PlotPoint{x, y});
  };
  const bool ok =
      source.tier ? read_step_rows(
                        reader, *source.tier, selection,
                        [&](const StepRow& row) {
                          for (std::size_t i = 0; i < row.values.size(); ++i) add(row.dataId, row.time, i, row.values[i].mean);
                        },
                        counts, error)
                  : read_rows(
                        reader, selection,
                        [&](const HistoryRow& row) {
                          for (std::size_t i = 0; i < row.values.size(); ++i) add(row.dataId, row.time, i, row.values[i]);
                        },
                        counts, error);
  if (!ok) return false;
  if (layout.meters.empty()) {
    *error = "no records to plot";
    return false;
  }
  TempFile data;
  if (data.path().empty()) {
    *error = "cannot make a temporary file for the chart's data";
    return false;
  }
  {
    std::string text;
    for (std::uint32_t m : layout.meters) {
      for (const auto& curve : curves[m]) {
        for (const PlotPoint& p : min_max_points(curve, kBuckets)) {
          text += std::to_string(p.x);
          text += ' ';
          text += std::isfinite(p.y) ? number_text(p.y) : "?";
          text += '\n';
        }
        text += "\n\n";
      }
    }
    std::ofstream out(data.path(), std::ios::binary);
    out << text;
    if (!out) {
      *error = "cannot write the chart's data to " + data.path();
      return false;
    }
  }
  layout.outPath = outPath;
  layout.title = title;
  layout.dataPath = data.path();
  layout.signals = selection.signals;
  layout.spanSeconds = lastSecond - firstSecond;
  if (!run_gnuplot(plot_script(layout), error)) return false;
  std::error_code ec;
  if (!std::filesystem::exists(outPath, ec) || std::filesystem::file_size(outPath, ec) == 0) {
    *error = "gnuplot wrote no chart to " + outPath;
    return false;
  }
  return true;
}

}  // namespace meter_history
