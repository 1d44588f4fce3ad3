// Point reads: no point is served; the answer says why.
#include <mutex>
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "plugin/kvrm4410t_q.h"
#include "publication/point_read.h"

double KVRM4410T_Q::Get_Value(unsigned int, const std::string&) const {
  bool ready;
  boost::posix_time::ptime lastUpdate;
  {
    // The 64-bit time is read whole on 32-bit targets too.
    std::lock_guard<std::mutex> lock(mutex_);
    ready = dataReady_;
    lastUpdate = lastUpdateTime_;
  }
  const kvrm::PointAnswer answer =
      kvrm::point_read_answer(ready, lastUpdate, [] { return boost::posix_time::second_clock::local_time(); });
  throw std::out_of_range(kvrm::point_read_message(answer));
}
