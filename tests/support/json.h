#pragma once
// JSON text read back in tests, through one parser.
#include <sstream>
#include <stdexcept>
#include <string>

#include <json/reader.h>
#include <json/value.h>

namespace kvtest {

// False, and `out` untouched, when the text is not JSON.
inline bool parse_json(const std::string& text, Json::Value& out) {
  Json::CharReaderBuilder builder;
  Json::Value v;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &v, &errors)) return false;
  out = std::move(v);
  return true;
}

// A null value when the text is not JSON.
inline Json::Value parse_json(const std::string& text) {
  Json::Value v;
  parse_json(text, v);
  return v;
}

// JSON the test wrote itself: anything else is a fault of the test.
inline Json::Value json(const std::string& text) {
  Json::Value v;
  if (!parse_json(text, v)) throw std::runtime_error("bad test JSON: " + text);
  return v;
}

}  // namespace kvtest
