#include "wiring.h"

namespace meter_sim {

namespace {

constexpr const char* kPhases[] = {"A", "B", "C"};
constexpr const char* kPairs[] = {"AB", "BC", "CA"};

int index_of(const std::string& text, const char* const (&names)[3]) {
  for (int i = 0; i < 3; ++i)
    if (text == names[i]) return i;
  return -1;
}

bool add_one(const std::string& kind, Wiring* w) {
  const auto colon = kind.find(':');
  const std::string name = kind.substr(0, colon);
  const std::string where = colon == std::string::npos ? std::string() : kind.substr(colon + 1);
  if (colon == std::string::npos) {
    if (name == "low-load") return w->lowLoad = true;
    if (name == "export") return w->exporting = true;
    return false;
  }
  if (name == "swapped-ct") {
    const int pair = index_of(where, kPairs);
    if (pair < 0 || (w->swappedCts >= 0 && w->swappedCts != pair)) return false;  // one pair at a time
    w->swappedCts = pair;
    return true;
  }
  const int phase = index_of(where, kPhases);
  if (phase < 0) return false;
  if (name == "reversed-ct") return w->reversedCt[static_cast<std::size_t>(phase)] = true;
  if (name == "missing-voltage") return w->missingVoltage[static_cast<std::size_t>(phase)] = true;
  return false;
}

}  // namespace

bool Wiring::healthy() const {
  for (int i = 0; i < 3; ++i)
    if (reversedCt[static_cast<std::size_t>(i)] || missingVoltage[static_cast<std::size_t>(i)]) return false;
  return swappedCts < 0 && !lowLoad && !exporting;
}

bool add_wiring(const std::string& text, Wiring* w, std::string* error) {
  Wiring next = *w;
  std::size_t from = 0;
  for (;;) {
    const auto comma = text.find(',', from);
    const std::string kind = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    if (!add_one(kind, &next)) {
      *error = "unknown wiring \"" + kind +
               "\" (reversed-ct:A|B|C, swapped-ct:AB|BC|CA, missing-voltage:A|B|C, low-load, export; "
               "one swapped pair)";
      return false;
    }
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  *w = next;
  return true;
}

std::string describe(const Wiring& w) {
  std::string out;
  auto add = [&out](const std::string& s) { out += (out.empty() ? "" : ", ") + s; };
  for (std::size_t i = 0; i < 3; ++i)
    if (w.reversedCt[i]) add(std::string("reversed-ct:") + kPhases[i]);
  if (w.swappedCts >= 0) add(std::string("swapped-ct:") + kPairs[w.swappedCts]);
  for (std::size_t i = 0; i < 3; ++i)
    if (w.missingVoltage[i]) add(std::string("missing-voltage:") + kPhases[i]);
  if (w.lowLoad) add("low-load");
  if (w.exporting) add("export");
  return out.empty() ? "healthy" : out;
}

}  // namespace meter_sim
