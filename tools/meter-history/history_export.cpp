#include "history_export.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace meter_history {

namespace {

void append_number(std::string& out, double value) {
  if (std::isnan(value)) return;
  if (std::isinf(value)) {
    out += value > 0 ? "inf" : "-inf";
    return;
  }
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, value);
  out.append(text, r.ptr);
}

// A CSV field: quoted when it holds a separator, a quote or a line end.
void append_csv_field(std::string& out, const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// Keys and tag values of line protocol: commas, equals signs and blanks
// are escaped.
void append_key(std::string& out, const char* text) {
  for (const char* p = text; *p; ++p) {
    if (*p == ',' || *p == '=' || *p == ' ') out += '\\';
    out += *p;
  }
}

}  // namespace

std::string number_text(double value) {
  std::string out;
  append_number(out, value);
  return out;
}

std::string csv_header(const Signals& signals) {
  std::string out = "time,data_id";
  for (const kvrm::SignalRow* s : signals) {
    out += ',';
    append_csv_field(out, s->name);
  }
  return out + "\n";
}

void append_csv_row(std::string& out, const HistoryRow& row) {
  out += readings::iso_text(row.time);
  out += ',';
  out += std::to_string(row.dataId);
  for (double v : row.values) {
    out += ',';
    append_number(out, v);
  }
  out += '\n';
}

// Nanoseconds since the epoch fit a signed 64-bit number from 1677 to
// 2262; a block's time stamp can be anything, all zeros for one.
constexpr long long kMaxEpochSeconds = std::numeric_limits<long long>::max() / 1000000000LL;

void append_line(std::string& out, const HistoryRow& row, const Signals& signals) {
  const auto epoch = readings::local_epoch(row.time);
  if (!epoch || *epoch > kMaxEpochSeconds || *epoch < -kMaxEpochSeconds) return;
  const std::size_t start = out.size();
  out += kMeasurement;
  out += ",data_id=";
  out += std::to_string(row.dataId);
  char separator = ' ';
  for (std::size_t i = 0; i < signals.size(); ++i) {
    if (!std::isfinite(row.values[i])) continue;
    out += separator;
    separator = ',';
    append_key(out, signals[i]->name);
    out += '=';
    append_number(out, row.values[i]);
  }
  // A line without a field is not a line of the protocol.
  if (separator == ' ') {
    out.resize(start);
    return;
  }
  out += ' ';
  out += std::to_string(static_cast<long long>(*epoch) * 1000000000LL);
  out += '\n';
}

namespace {

constexpr const char* kStatNames[3] = {"min", "mean", "max"};

double stat_of(const StepRow::Stats& s, int k) { return k == 0 ? s.min : k == 1 ? s.mean : s.max; }

}  // namespace

std::string csv_step_header(const Signals& signals) {
  std::string out = "time,data_id,rounds";
  for (const kvrm::SignalRow* s : signals)
    for (const char* stat : kStatNames) {
      out += ',';
      append_csv_field(out, std::string(s->name) + " " + stat);
    }
  return out + "\n";
}

void append_csv_step_row(std::string& out, const StepRow& row) {
  out += readings::iso_text(row.time);
  out += ',';
  out += std::to_string(row.dataId);
  out += ',';
  out += std::to_string(row.rounds);
  for (const StepRow::Stats& v : row.values)
    for (int k = 0; k < 3; ++k) {
      out += ',';
      append_number(out, stat_of(v, k));
    }
  out += '\n';
}

void append_step_line(std::string& out, const StepRow& row, const Signals& signals, const std::string& step) {
  const auto epoch = readings::local_epoch(row.time);
  if (!epoch || *epoch > kMaxEpochSeconds || *epoch < -kMaxEpochSeconds) return;
  out += kMeasurement;
  out += ",data_id=";
  out += std::to_string(row.dataId);
  out += ",step=";
  out += step;
  out += " rounds=";
  out += std::to_string(row.rounds);
  out += 'i';
  for (std::size_t i = 0; i < signals.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      const double v = stat_of(row.values[i], k);
      if (!std::isfinite(v)) continue;
      out += ',';
      append_key(out, signals[i]->name);
      out += '_';
      out += kStatNames[k];
      out += '=';
      append_number(out, v);
    }
  out += ' ';
  out += std::to_string(static_cast<long long>(*epoch) * 1000000000LL);
  out += '\n';
}

}  // namespace meter_history
