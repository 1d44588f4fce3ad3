#pragma once
// Settings are read through their text form, so a number may come as a
// JSON number or as a string; texts are parsed the C library's way.
#include <optional>
#include <string>

#include <json/value.h>

namespace kvrm {

// strtol in base 10: leading blanks and a sign accepted, parsing stops at
// the first non-digit, no digits give 0. Out-of-range texts saturate at
// the int limits, as strtol does on the 32-bit target.
int parse_int(const std::string& text);

// strtod narrowed to float; a no-number text gives 0. Beyond the float
// range the result is the infinity that rounding gives, never undefined.
float parse_float(const std::string& text);

// A key counts as present when the member exists and is not null.
bool is_present(const Json::Value& object, const char* key);

// "appSetting"."b_mode" through its text, when the configuration carries
// one: "appSetting" must be an object and "b_mode" present. An array or
// object as "b_mode" raises the JSON library's error.
std::optional<int> configured_mode(const Json::Value& config);

}  // namespace kvrm
