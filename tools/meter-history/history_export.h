#pragma once
// History rows as text: CSV for a person's spreadsheet, line protocol for
// a time-series store. Pure.
#include <string>

#include "history_rows.h"

namespace meter_history {

// The shortest text that reads back as the same double; the empty text
// for a NaN, "inf" and "-inf" for the infinities.
std::string number_text(double value);

// "time,data_id," then the member names.
std::string csv_header(const Signals& signals);
// The round's time (local, ISO 8601), its data id, its values.
void append_csv_row(std::string& out, const HistoryRow& row);

// Measurement, data id tag, one field per finite value (the protocol has
// no NaN or infinity), the round's time in nanoseconds since the epoch.
// No line for a row whose time the protocol cannot carry (before 1677 or
// after 2262).
constexpr const char* kMeasurement = "kvrm4410t_q";
void append_line(std::string& out, const HistoryRow& row, const Signals& signals);

}  // namespace meter_history
