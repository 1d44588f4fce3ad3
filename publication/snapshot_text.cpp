#include "publication/snapshot_text.h"

#include <cstring>

#include <json/writer.h>

#include "publication/json_number.h"

namespace kvrm {

std::string fast_writer_text(const Json::Value& value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  Json::FastWriter writer;
  return writer.write(value);
#pragma GCC diagnostic pop
}

namespace {

// The writer's text of a member value or a name, without the line feed.
void append_by_writer(std::string& out, const Json::Value& value) {
  const std::string text = fast_writer_text(value);
  out.append(text, 0, text.size() - 1);
}

// Printable ASCII other than the quote and the backslash is written as it
// is; everything else goes through the writer's own escaping.
bool plain(const char* begin, const char* end) {
  for (const char* p = begin; p != end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return false;
  }
  return true;
}

bool same_bytes(const std::string& kept, const char* begin, const char* end) {
  const auto n = static_cast<std::size_t>(end - begin);
  return kept.size() == n && (n == 0 || std::memcmp(kept.data(), begin, n) == 0);
}

bool same_number(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

const std::string& SnapshotText::text(const Json::Value& snapshot) {
  if (!(kept_ && unchanged(snapshot))) write(snapshot);
  return text_;
}

bool SnapshotText::unchanged(const Json::Value& snapshot) const {
  if (!comparable_ || !snapshot.isObject() || snapshot.size() != members_.size()) return false;
  if (!lent_) return true;
  auto kept = members_.begin();
  const auto end = snapshot.end();
  for (auto it = snapshot.begin(); it != end; ++it, ++kept) {
    const char* nameEnd = nullptr;
    const char* name = it.memberName(&nameEnd);
    const Json::Value& value = *it;
    if (value.type() != kept->type || !same_bytes(kept->name, name, nameEnd)) return false;
    if (kept->type == Json::realValue && !same_number(value.asDouble(), kept->number)) return false;
    if (kept->type == Json::stringValue) {
      const char* begin = nullptr;
      const char* end = nullptr;
      if (!value.getString(&begin, &end) || !same_bytes(kept->string, begin, end)) return false;
    }
  }
  return true;
}

void SnapshotText::write(const Json::Value& snapshot) {
  comparable_ = false;
  kept_ = false;
  if (!snapshot.isObject()) {
    text_ = fast_writer_text(snapshot);
    return;
  }
  bool comparable = true;
  text_.clear();
  text_ += '{';
  std::size_t i = 0;
  const auto end = snapshot.end();
  for (auto it = snapshot.begin(); it != end; ++it, ++i) {
    if (i == members_.size()) members_.emplace_back();
    Member& m = members_[i];
    const char* nameEnd = nullptr;
    const char* name = it.memberName(&nameEnd);
    // Names are escaped once, when first met at this place.
    if (!same_bytes(m.name, name, nameEnd)) {
      m.name.assign(name, nameEnd);
      m.quoted.clear();
      append_by_writer(m.quoted, Json::Value(m.name));
    }
    if (i > 0) text_ += ',';
    text_ += m.quoted;
    text_ += ':';

    const Json::Value& value = *it;
    m.type = value.type();
    switch (m.type) {
      case Json::realValue: {
        m.number = value.asDouble();
        char number[kJsonNumberRoom];
        text_.append(number, write_json_number(number, m.number));
        break;
      }
      case Json::nullValue:
        text_ += "null";
        break;
      case Json::stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        if (!value.getString(&begin, &end)) {
          comparable = false;
          append_by_writer(text_, value);
        } else if (m.string.assign(begin, end), plain(begin, end)) {
          text_ += '"';
          text_ += m.string;
          text_ += '"';
        } else {
          append_by_writer(text_, value);
        }
        break;
      }
      default:
        // Integers, booleans, arrays and objects: the writer's own text.
        comparable = false;
        append_by_writer(text_, value);
        break;
    }
  }
  members_.resize(i);
  text_ += "}\n";
  comparable_ = comparable;
  kept_ = true;
}

}  // namespace kvrm
