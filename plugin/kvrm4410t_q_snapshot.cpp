// The JSON snapshot rebuild, at most once per completed round.
#include <mutex>

#include "plugin/kvrm4410t_q.h"

void KVRM4410T_Q::GenJsonData() {
  std::lock_guard<std::mutex> lock(mutex_);
  const boost::posix_time::ptime lastUpdate = lastUpdateTime_.load();
  if (kvrm::snapshot_is_current(lastUpdate, snapshotTime_)) return;
  // Taken first: a rebuild that fails half way is not retried for this round.
  snapshotTime_ = lastUpdate;
  snapshotText_.values_changed();
  snapshotMembers_.write(jsonSnapshot_, block());
}
