#pragma once
// Building the JSON snapshot from the meter data block.
#include <array>
#include <cstdint>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/value.h>

#include "publication/signal_catalogue.h"

namespace kvrm {

// The snapshot already shows the round stamped lastUpdate (two
// not-a-date-time values count as equal: nothing new before the first round).
inline bool snapshot_is_current(const boost::posix_time::ptime& lastUpdate, const boost::posix_time::ptime& builtFor) {
  return lastUpdate == builtFor;
}

// Assigns every catalogue member of a snapshot from the block, in place:
// members that are not in the catalogue stay as they are.
//
// The members are looked up by name once; jsoncpp keeps an object's members
// in map nodes that stay put while the object lives, so later rebuilds reach
// them through those places. Inside the driver nothing removes a member or
// replaces the object, and the point-file pass only adds members: the places
// are trusted while the object keeps its member count and its first node.
// Once the snapshot's address has been handed out, anyone may replace the
// object or remove members, so a walk over the object checks before each
// rebuild that every place still holds its member. When they do not, the
// members are looked up by name again.
class SnapshotMembers {
public:
  void write(Json::Value& snapshot, const unsigned char* block);
  // The snapshot's address has been handed out.
  void lend() { lent_ = true; }

private:
  bool places_hold(const Json::Value& snapshot);
  void find(Json::Value& snapshot);
  bool same_shape(const Json::Value& snapshot) const;
  void note_shape(const Json::Value& snapshot);

  static constexpr std::size_t kMembers = kSignalCatalogue.size();
  std::array<Json::Value*, kMembers> places_{};  // in catalogue order
  std::array<std::uint8_t, kMembers> order_{};   // catalogue rows in the object's member order
  bool found_ = false;
  bool lent_ = false;
  // The object as last checked: member count and first node.
  Json::ArrayIndex size_ = 0;
  const Json::Value* first_ = nullptr;
};
static_assert(kSignalCatalogue.size() <= 256, "catalogue rows fit the member order's bytes");

// The same for a snapshot seen once: looks every member up by name.
void write_snapshot(Json::Value& snapshot, const unsigned char* block);

}  // namespace kvrm
