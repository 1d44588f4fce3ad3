#pragma once
// meter-host --show table: the table of every completed round. On a
// terminal it is drawn over the previous one; otherwise each round adds a
// block, followed by an empty line.
#include <cstdint>
#include <string>
#include <vector>

#include "round_sink.h"
#include "host_log.h"

namespace meter_host {

class TableView {
public:
  TableView(LineSink& out, bool terminal) : out_(out), terminal_(terminal) {}
  void show(std::uint32_t dataId, unsigned round, long long durationMs, const std::string& snapshotText,
            const std::vector<AlarmEvent>& alarms);

private:
  LineSink& out_;
  bool terminal_;
};

}  // namespace meter_host
