#pragma once
// The loader of the JSON threshold mode: "thresholdSetting" into a set of
// the four threshold tables.
#include <json/value.h>

#include "config/limits.h"

namespace kvrm {

// Adds every usable limit of every member of an object "thresholdSetting"
// to the table of its limit, under the member's "SignalName"; a later
// member replaces an earlier one's entry limit by limit. Members that are
// not objects, or lack an "ID" or "SignalName" text, are skipped; so is a
// limit with a key missing, null or empty. A key holding an array or
// object raises the JSON library's error, leaving the entries made so far.
void load_thresholds(const Json::Value& setting, ThresholdTables& tables);

}  // namespace kvrm
