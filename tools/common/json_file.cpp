#include "json_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <json/reader.h>

namespace json_file {

Status read(const std::string& path, Json::Value* value, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = std::strerror(errno);
    return Status::unreadable;
  }
  Json::CharReaderBuilder builder;
  builder["stackLimit"] = kMaxDepth;
  try {
    if (!Json::parseFromStream(builder, in, value, error)) return Status::not_json;
  } catch (const Json::Exception& e) {
    // The parser refuses deep nesting by throwing; nothing else it throws
    // is expected, but each is a file it could not read.
    const bool tooDeep = std::strstr(e.what(), "stackLimit") != nullptr;
    *error = tooDeep ? "nested more than " + std::to_string(kMaxDepth) + " levels deep" : e.what();
    return Status::not_json;
  }
  return Status::ok;
}

}  // namespace json_file
