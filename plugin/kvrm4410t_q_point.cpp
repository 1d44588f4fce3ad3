// Point reads: no point is served; the answer says why. They take no lock:
// the host may ask from inside its threshold service, which round
// completion calls with the driver mutex held.
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "plugin/kvrm4410t_q.h"
#include "publication/point_read.h"

double KVRM4410T_Q::Get_Value(unsigned int, const std::string&) const {
  const kvrm::PointAnswer answer = kvrm::point_read_answer(
      dataReady_.load(), lastUpdateTime_.load(), [] { return boost::posix_time::second_clock::local_time(); });
  throw std::out_of_range(kvrm::point_read_message(answer));
}
