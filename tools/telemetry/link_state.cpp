#include "link_state.h"

#include <algorithm>

namespace telemetry {

namespace {

std::string waiting_text(std::int64_t waiting) {
  return std::to_string(waiting) + (waiting == 1 ? " message" : " messages") + " waiting";
}

}  // namespace

std::optional<LinkLogLine> LinkState::failed(const std::string& reason, std::int64_t waiting, bool refusal) {
  const State was = state_;
  // Away already: a new refusal is told, the network failing another way is not.
  const bool told = was == State::down && (reason == reason_ || (!refusal && !refusal_));
  state_ = State::down;
  reason_ = reason;
  refusal_ = refusal;
  if (told) return std::nullopt;
  if (was == State::up)
    return LinkLogLine{true, "mqtt: lost the broker " + url_ + ": " + reason + "; " + waiting_text(waiting) +
                                 ", retrying"};
  return LinkLogLine{true, "mqtt: cannot use the broker " + url_ + ": " + reason + "; " + waiting_text(waiting) +
                               ", retrying (polling and storing go on)"};
}

std::optional<LinkLogLine> LinkState::connected(std::int64_t waiting) {
  const State was = state_;
  state_ = State::up;
  reason_.clear();
  if (was == State::up) return std::nullopt;
  return LinkLogLine{false, std::string(was == State::down ? "mqtt: the broker " + url_ + " is back"
                                                            : "mqtt: connected to " + url_) +
                                ", " + waiting_text(waiting)};
}

std::string LinkState::text() const {
  switch (state_) {
    case State::up:
      return "connected";
    case State::down:
      return "down (" + reason_ + ")";
    case State::unknown:
      break;
  }
  return "connecting";
}

std::chrono::seconds Backoff::next() {
  const auto now = wait_;
  wait_ = std::min(wait_ * 2, kMost);
  return now;
}

std::size_t publish_packet_bytes(std::size_t topicBytes, std::size_t payloadBytes) {
  const std::size_t remaining = 2 + topicBytes + 2 + 1 + payloadBytes;
  std::size_t lengthBytes = 1;
  for (std::size_t r = remaining; r >= 128; r /= 128) ++lengthBytes;
  return 1 + lengthBytes + remaining;
}

}  // namespace telemetry
