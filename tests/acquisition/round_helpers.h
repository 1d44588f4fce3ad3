#pragma once
// Helpers shared by the acquisition and publication tests: a round driven
// through the recording host, register slots of the block, request frames,
// and a retry for checks that must not straddle a second boundary.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "acquisition/data_block.h"
#include "host/recording/recording_backend.h"
#include "host/rtu.h"
#include "plugin/kvrm4410t_q.h"

namespace kvtest {

inline boost::posix_time::ptime local_now() { return boost::posix_time::second_clock::local_time(); }

// One status refresh and every exchange it leads to.
inline int run_round(host::RecordingBackend& rec, KVRM4410T_Q& dev, host::MeterImage& meter) {
  dev.RefreshStatus();
  return host::pump(rec, dev, meter);
}

inline std::uint16_t slot(const KVRM4410T_Q& dev, unsigned reg) {
  return kvrm::read_uint16(dev.block(), kvrm::register_offset(reg));
}

inline std::vector<std::uint8_t> block_bytes(const KVRM4410T_Q& dev) {
  return {dev.block(), dev.block() + kvrm::kBlockSize};
}

// {start, count} of a read request frame.
inline std::pair<unsigned, unsigned> read_request(const std::vector<std::uint8_t>& frame) {
  return {host::word_at(&frame.at(2)), host::word_at(&frame.at(4))};
}

// Round-completion effects, without the serial traffic.
inline std::vector<std::string> completion_ops(const host::RecordingBackend& rec) {
  std::vector<std::string> out;
  for (const auto& op : rec.ops())
    if (op != "send_data" && op != "refresh_status") out.push_back(op);
  return out;
}

// Runs attempt(now) until the local clock shows the same second before and
// after it, and returns that second (none if it never did). attempt() must
// set up its own state afresh and only record what it sees: checks belong
// after the call, so that an attempt that crossed a second does not count.
template <class F>
std::optional<boost::posix_time::ptime> within_one_second(F attempt) {
  for (int i = 0; i < 5; ++i) {
    const auto before = local_now();
    attempt(before);
    if (local_now() == before) return before;
  }
  return std::nullopt;
}

}  // namespace kvtest
