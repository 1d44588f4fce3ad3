#pragma once
// The MQTT keys of the numeric members. Every state message carries all of
// them, so they are short; the retained meta message maps each back to its
// member name, an English label and the unit (unit_of). A key, once
// published, is never changed or reused: subscribers store by it.
#include <array>

#include "publication/signal_catalogue.h"

namespace readings {

struct MemberKey {
  const char* name;   // the member name as published, byte for byte
  const char* key;    // lower-case ASCII, [a-z][a-z0-9_]*
  const char* label;  // English, for an operator
};

// Every numeric member, in catalogue order.
const std::array<MemberKey, kvrm::kNumericSignals>& member_keys();

}  // namespace readings
