#pragma once
// Building the JSON snapshot from the meter data block.
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/value.h>

namespace kvrm {

// The snapshot already shows the round stamped lastUpdate (two
// not-a-date-time values count as equal: nothing new before the first round).
inline bool snapshot_is_current(const boost::posix_time::ptime& lastUpdate, const boost::posix_time::ptime& builtFor) {
  return lastUpdate == builtFor;
}

// Assigns every catalogue member from the block, in place: members that are
// not in the catalogue stay as they are.
void write_snapshot(Json::Value& snapshot, const unsigned char* block);

}  // namespace kvrm
