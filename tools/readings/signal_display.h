#pragma once
// How a person reads the meter's members: grouped as on a meter's display,
// each with a short English label and the unit that the meter's scaling
// gives it. The snapshot itself carries no units; these are the display's.
#include <array>
#include <optional>
#include <string>

#include "publication/signal_catalogue.h"

namespace readings {

struct DisplayRow {
  const char* name;   // the member name as published
  const char* label;  // short English label
};

struct DisplayGroup {
  const char* title;
  const char* unit;  // empty: a plain ratio
  const DisplayRow* rows;
  std::size_t count;
};

// The groups of the table, in reading order.
const std::array<DisplayGroup, 10>& display_groups();

// The catalogue row of a member, if the name is one.
const kvrm::SignalRow* catalogue_row(const std::string& name);

// The unit of any numeric member: from its group in the table, or for the
// energies not shown there from their group word. Nothing for a name that
// is not a numeric member; the empty text for the power factors.
std::optional<std::string> unit_of(const std::string& name);

// Decimal places that show a member at the meter's resolution: the
// divisor's, 3 for the float energies.
int decimals_of(const kvrm::SignalRow& row);

}  // namespace readings
