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

// The same for the rows of a tier: "time,data_id,rounds," then per member
// "NAME min,NAME mean,NAME max"; the time is the period's start.
std::string csv_step_header(const Signals& signals);
void append_csv_step_row(std::string& out, const StepRow& row);
// Tags data_id and step; fields rounds and NAME_min, NAME_mean, NAME_max.
void append_step_line(std::string& out, const StepRow& row, const Signals& signals, const std::string& step);

}  // namespace meter_history
