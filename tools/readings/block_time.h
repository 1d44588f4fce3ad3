#pragma once
// The time of a reading: the block's seven-byte time stamp (local time),
// its ISO 8601 text, and the times a person types to pick readings.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace readings {

struct BlockTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  // Orders times: yyyymmddhhmmss as one number.
  std::int64_t key() const;
};

BlockTime block_time(const unsigned char* block);

// "2024-03-05T07:04:09"; `separator` ' ' gives the form people write.
std::string iso_text(const BlockTime& t, char separator = 'T');

// "2024-3-5 7:4:9" (the snapshot's update time), "2024-03-05T07:04:09",
// "2024-03-05 07:04", "2024-03-05": fields missing at the end are 0.
std::optional<BlockTime> parse_time_text(const std::string& text);

// Seconds since the epoch of the local time, as the C library reckons it
// (daylight saving decided by the zone); nothing when it has none.
std::optional<std::time_t> local_epoch(const BlockTime& t);

}  // namespace readings
