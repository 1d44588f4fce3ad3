#pragma once
// How a simulated meter is wired: right, or with the faults a field
// engineer meets (a CT fitted the wrong way round, two phases' CTs
// exchanged, a voltage tap open, too little load to judge, a site that
// exports). Several may hold at once.
#include <array>
#include <string>

namespace meter_sim {

struct Wiring {
  std::array<bool, 3> reversedCt{};      // the CT of phase A, B, C fitted S1/S2 the wrong way
  int swappedCts = -1;                   // -1 none; 0 AB, 1 BC, 2 CA: the two phases' CTs exchanged
  std::array<bool, 3> missingVoltage{};  // the voltage input of phase A, B, C open
  bool lowLoad = false;                  // a few per cent of the CT's rating
  bool exporting = false;                // power flows from the site into the grid

  bool healthy() const;
};

// Adds one kind to `w`: "reversed-ct:A|B|C", "swapped-ct:AB|BC|CA",
// "missing-voltage:A|B|C", "low-load", "export"; several separated by
// commas. On failure says why and leaves `w` as it was.
bool add_wiring(const std::string& text, Wiring* w, std::string* error);

// "reversed-ct:B, low-load" or "healthy".
std::string describe(const Wiring& w);

}  // namespace meter_sim
