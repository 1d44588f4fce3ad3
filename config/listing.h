#pragma once
// The JSON listing mode: the composed id text of one "thresholdSetting"
// member and its log lines.
#include <ostream>
#include <string>

#include <json/value.h>

namespace kvrm {

// NMAlarmID, ID and SignalNumber texts, each followed by ";" (so always
// three semicolons); for each key that is not present the line
// "<data id> <key> is missing" goes to out, flushed, and its part stays
// empty. A key holding an array or object raises the JSON library's error.
std::string compose_listing_id(unsigned dataId, const Json::Value& member, std::ostream& out);

// "mobile:<name>:<id text> level:<level> value:<value>", the value widened
// to double and printed with a fresh stream's six significant digits.
std::string listing_line(const std::string& name, const std::string& idText, int level, float value);

}  // namespace kvrm
