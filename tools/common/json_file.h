#pragma once
// Reading a JSON file that a person gave the tools (a configuration, a site,
// a register image): one reader, so every tool refuses the same files with
// the same words, and no file can end a tool with an exception.
#include <string>

#include <json/value.h>

namespace json_file {

// Deeper nesting is refused rather than parsed: the parser recurses per level.
constexpr unsigned kMaxDepth = 1000;

enum class Status {
  ok,
  unreadable,  // *error: the system's reason, e.g. "No such file or directory"
  not_json,    // *error: what the parser found, e.g. "nested more than 1000 levels deep"
};

// Reads and parses the file at `path` into *value. The messages do not name
// the file: the caller says what the file was for.
Status read(const std::string& path, Json::Value* value, std::string* error);

}  // namespace json_file
