#pragma once
// A ptime that one thread stamps while others read it without a lock. The
// value is the ptime's own 64-bit tick count, kept in a lock-free atomic:
// on a 32-bit target a plain 64-bit member could be read half written.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace host {

class AtomicTime {
public:
  using Time = boost::posix_time::ptime;

  AtomicTime() : ticks_(bits_of(Time())) {}  // not-a-date-time
  AtomicTime(const AtomicTime&) = delete;
  AtomicTime& operator=(const AtomicTime&) = delete;

  Time load() const { return time_of(ticks_.load(std::memory_order_acquire)); }
  void store(const Time& t) { ticks_.store(bits_of(t), std::memory_order_release); }

  bool is_lock_free() const { return ticks_.is_lock_free(); }
  static constexpr bool kLockFree = std::atomic<std::int64_t>::is_always_lock_free;

private:
  // The special values (not-a-date-time, infinities) are tick counts too,
  // so the bits carry every ptime unchanged.
  static_assert(sizeof(Time) == sizeof(std::int64_t) && std::is_trivially_copyable<Time>::value,
                "a ptime is one 64-bit tick count");
  static std::int64_t bits_of(const Time& t) {
    std::int64_t bits;
    std::memcpy(&bits, &t, sizeof bits);
    return bits;
  }
  static Time time_of(std::int64_t bits) {
    Time t;
    std::memcpy(static_cast<void*>(&t), &bits, sizeof bits);
    return t;
  }

  std::atomic<std::int64_t> ticks_;
};

// It stands where a host declares a plain ptime: the same size and alignment.
static_assert(sizeof(AtomicTime) == sizeof(AtomicTime::Time) && alignof(AtomicTime) == alignof(AtomicTime::Time),
              "the last-update time keeps the layout of a ptime");

// Point reads and commands read these from host threads while the serial
// path writes them; a lock there could be held by the very thread asking.
static_assert(AtomicTime::kLockFree, "the last-update time must be lock-free on this target");
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the ready flag and the mode must be lock-free on this target");
static_assert(sizeof(std::atomic<bool>) == sizeof(bool) && sizeof(std::atomic<int>) == sizeof(int),
              "the ready flag and the mode keep the size of a plain bool and int");

}  // namespace host
