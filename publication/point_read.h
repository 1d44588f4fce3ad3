#pragma once
// The answer to a point read. The driver serves no single point: it tells
// why there is no value, judged by the age of the last completed round.
#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace kvrm {

enum class PointAnswer { NotReady, TimedOut, NotServed };

// Both times are whole seconds: an age of 60 s is fresh, 61 s is stale.
constexpr long long kFreshForMicroseconds = 60'999'999;

// The age is counted in microseconds of the 64-bit time type, so it holds
// beyond 2038 on 32-bit targets. A negative age (clock set back) is fresh;
// an age that is no duration at all (no stamp yet) is stale.
inline PointAnswer answer_for_age(const boost::posix_time::time_duration& age) {
  if (age.is_special() || age.total_microseconds() > kFreshForMicroseconds) return PointAnswer::TimedOut;
  return PointAnswer::NotServed;
}

// The clock is read only when there is data to judge.
template <class Clock>
PointAnswer point_read_answer(bool dataReady, const boost::posix_time::ptime& lastUpdate, Clock now) {
  if (!dataReady) return PointAnswer::NotReady;
  return answer_for_age(now() - lastUpdate);
}

inline const char* point_read_message(PointAnswer a) {
  switch (a) {
    case PointAnswer::NotReady:
      return "数据未就绪";
    case PointAnswer::TimedOut:
      return "数据已超时";
    case PointAnswer::NotServed:
      break;
  }
  return "不支持变量";
}

}  // namespace kvrm
