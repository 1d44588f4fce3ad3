#pragma once
// The snapshot as JSON text: byte for byte what the compact writer
// (Json::FastWriter, default settings) writes, made without its name lookups
// and per-number snprintf, and kept until the snapshot changes.
#include <string>
#include <vector>

#include <json/value.h>

namespace kvrm {

// The compact writer's own text of a value: one line ending in a line feed.
std::string fast_writer_text(const Json::Value& value);

class SnapshotText {
public:
  // The compact writer's text of `snapshot` as it stands. The kept text is
  // returned only when every member still has the name, type and value it
  // was written from (the object may be changed by anyone holding its
  // address); otherwise the text is written anew.
  const std::string& text(const Json::Value& snapshot);

private:
  // What one member of the kept text was written from.
  struct Member {
    std::string name;    // the member name's bytes
    std::string quoted;  // the name as the writer quotes and escapes it
    Json::ValueType type = Json::nullValue;
    double number = 0.0;  // a real member's value
    std::string string;   // a string member's bytes
  };

  bool unchanged(const Json::Value& snapshot) const;
  void write(const Json::Value& snapshot);

  std::vector<Member> members_;
  // The kept text is for an object whose members are all reals, strings or
  // nulls, which unchanged() can compare; anything else is written anew.
  bool comparable_ = false;
  std::string text_;
};

}  // namespace kvrm
