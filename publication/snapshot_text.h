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
  // The compact writer's text of `snapshot` as it stands: the text kept
  // from the last call when nothing can have changed since, else written
  // anew.
  const std::string& text(const Json::Value& snapshot);

  // A rebuild has assigned the members: the kept text is old.
  void values_changed() { kept_ = false; }
  // The snapshot's address has been handed out: from now on anyone may
  // change the object at any time, so the kept text is compared with the
  // object member by member before each use. Until then only the rebuild
  // assigns members (and says so), and the point-file pass's inserting
  // lookup only adds members, which the member count shows.
  void lend() { lent_ = true; }

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
  bool kept_ = false;
  bool lent_ = false;
  std::string text_;
};

}  // namespace kvrm
