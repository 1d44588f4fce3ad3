#pragma once
// What the web view serves: a copy of the site made after each round. The
// server renders its answers from such a copy and never reaches into the
// session, so a web client can never hold up the line.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "round_sink.h"

namespace web {

// The line's counters for one meter, as the statistics keep them.
struct MeterHealth {
  std::uint64_t roundsCompleted = 0;
  std::uint64_t roundsAbandoned = 0;
  std::uint64_t requests = 0;
  std::uint64_t timeouts = 0;
  std::uint64_t crcErrors = 0;
  std::uint64_t exceptions = 0;
  std::uint64_t wrongReplies = 0;
  long long lastRoundMs = 0;
};

struct MeterState {
  meter_host::MeterInfo info;
  bool online = true;
  std::time_t since = 0;  // offline since; 0 while online
  // The newest completed round; round 0: none yet.
  unsigned round = 0;
  std::time_t time = 0;
  long long tookMs = 0;
  std::vector<unsigned char> block;
  std::vector<meter_host::AlarmEvent> alarms;  // in force after that round
  MeterHealth health;
};

struct SiteState {
  std::uint64_t version = 0;  // grows with every change
  std::string line;  // the line's statistics, one line of text
  std::vector<MeterState> meters;

  const MeterState* find(std::uint32_t dataId) const;
};

using SiteSnapshot = std::shared_ptr<const SiteState>;

}  // namespace web
