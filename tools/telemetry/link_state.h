#pragma once
// The broker link's log and its retry pace, apart from the client library:
// one line when the broker goes away or is back; while it is away, a line
// only when a refusal (credentials, certificate, access list) is new, not
// for every way a network fails; retries after 1 s, doubling up to 60 s.
// Pure: tests drive it with events.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace telemetry {

struct LinkLogLine {
  bool warning = false;
  std::string text;
};

class LinkState {
public:
  explicit LinkState(std::string url) : url_(std::move(url)) {}

  // A try failed or the connection ended, for `reason`; `waiting` messages
  // are in the outbox. A refusal is the broker's answer (credentials, the
  // certificate, the access list), not the network's.
  std::optional<LinkLogLine> failed(const std::string& reason, std::int64_t waiting, bool refusal = false);
  std::optional<LinkLogLine> connected(std::int64_t waiting);

  bool up() const { return state_ == State::up; }
  // For the status: "connected", "connecting", or why it is down.
  std::string text() const;

private:
  enum class State { unknown, up, down };
  std::string url_;
  State state_ = State::unknown;
  std::string reason_;
  bool refusal_ = false;
};

class Backoff {
public:
  static constexpr std::chrono::seconds kFirst{1};
  static constexpr std::chrono::seconds kMost{60};
  // The wait before the next try; each call doubles the one after.
  std::chrono::seconds next();
  void reset() { wait_ = kFirst; }

private:
  std::chrono::seconds wait_ = kFirst;
};

// The bytes of an MQTT 5 PUBLISH at QoS 1 without properties: fixed
// header, topic, packet id, the properties' length and the payload.
std::size_t publish_packet_bytes(std::size_t topicBytes, std::size_t payloadBytes);

}  // namespace telemetry
