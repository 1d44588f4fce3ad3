#include "publication/snapshot.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "publication/signal_value.h"

namespace kvrm {

namespace {

constexpr std::array<std::string_view, kSignalCatalogue.size()> catalogue_names() {
  std::array<std::string_view, kSignalCatalogue.size()> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kSignalCatalogue[i].name;
  return names;
}
constexpr auto kNames = catalogue_names();

bool named(Json::Value::const_iterator it, std::string_view name) {
  const char* end = nullptr;
  const char* begin = it.memberName(&end);
  return static_cast<std::size_t>(end - begin) == name.size() && std::memcmp(begin, name.data(), name.size()) == 0;
}

}  // namespace

void SnapshotMembers::write(Json::Value& snapshot, const unsigned char* block) {
  if (!places_hold(snapshot)) find(snapshot);
  for (std::size_t i = 0; i < kMembers; ++i) {
    const SignalRow& row = kSignalCatalogue[i];
    // Only the value is exchanged (cheaper than an assignment, which moves
    // comments too); the text shows values only.
    Json::Value value = row.decoding == Decoding::Time ? Json::Value(update_time_text(block))
                                                       : Json::Value(signal_value(block, row));
    places_[i]->swapPayload(value);
  }
}

bool SnapshotMembers::same_shape(const Json::Value& snapshot) const {
  return snapshot.size() == size_ && &*snapshot.begin() == first_;
}

void SnapshotMembers::note_shape(const Json::Value& snapshot) {
  size_ = snapshot.size();
  first_ = &*snapshot.begin();
}

bool SnapshotMembers::places_hold(const Json::Value& snapshot) {
  if (!found_ || !snapshot.isObject() || snapshot.size() < kMembers) return false;
  if (!lent_ && same_shape(snapshot)) return true;
  note_shape(snapshot);
  // Members not in the catalogue (null members added by the point-file
  // pass) may sit anywhere between them.
  std::size_t next = 0;
  const auto end = snapshot.end();
  for (auto it = snapshot.begin(); it != end && next < kMembers; ++it) {
    const std::size_t row = order_[next];
    if (&*it == places_[row] && named(it, kNames[row])) ++next;
  }
  return next == kMembers;
}

void SnapshotMembers::find(Json::Value& snapshot) {
  found_ = false;
  // The inserting lookup: a null snapshot becomes an object, a missing
  // member is added.
  for (std::size_t i = 0; i < kMembers; ++i) places_[i] = &snapshot[kSignalCatalogue[i].name];

  std::array<std::pair<const Json::Value*, std::uint8_t>, kMembers> byPlace{};
  for (std::size_t i = 0; i < kMembers; ++i) byPlace[i] = {places_[i], static_cast<std::uint8_t>(i)};
  std::sort(byPlace.begin(), byPlace.end());
  std::size_t next = 0;
  const Json::Value& object = snapshot;
  for (auto it = object.begin(); it != object.end(); ++it) {
    const auto hit = std::lower_bound(byPlace.begin(), byPlace.end(), std::make_pair(&*it, std::uint8_t{0}));
    if (hit != byPlace.end() && hit->first == &*it) order_[next++] = hit->second;
  }
  found_ = next == kMembers;
  note_shape(snapshot);
}

void write_snapshot(Json::Value& snapshot, const unsigned char* block) {
  SnapshotMembers members;
  members.write(snapshot, block);
}

}  // namespace kvrm
