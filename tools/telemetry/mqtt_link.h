#pragma once
// The link to the broker, on a thread of its own: connects over MQTT 5
// (TLS when the URL says so, the broker's certificate and host name
// verified), sends the outbox oldest first at QoS 1 with a window of
// messages in flight, and hands the rows the broker acknowledged back to
// be deleted by the history's next commit. The link is up once the broker
// took "online" on P/status; a message it refuses (its access list) is
// kept and the link retried as after any failure. On any failure the client is dropped whole and a
// new one tries after the back-off: what was in flight and not
// acknowledged is sent again (a consumer drops a number it has seen).
// P/status is "online" while connected; the will, and a clean stop, make
// it "offline".
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "history_store.h"
#include "link_state.h"
#include "telemetry_options.h"

struct mosquitto;

namespace telemetry {

class MqttLink {
public:
  using LogLine = std::function<void(const LinkLogLine&)>;
  using Sent = std::function<void(const std::vector<std::int64_t>& rows)>;

  // The thread starts here and connects at once.
  MqttLink(std::shared_ptr<hist::HistoryStore> store, const TelemetryOptions& options, Sent sent, LogLine log);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  // While connected, waits up to `timeout` until everything committed so
  // far is sent and acknowledged: a clean stop leaves nothing behind for
  // the next start when the broker is in reach.
  void drain(std::chrono::milliseconds timeout);

  // Says "offline" on P/status when connected (waits a few seconds at most
  // for the broker to take it), disconnects and ends the thread.
  void stop();

  std::uint64_t messages_sent() const { return sent_; }
  // PUBLISH packets' bytes, status included.
  std::uint64_t bytes_sent() const { return bytesSent_; }
  std::string state_text() const;
  bool connected() const { return up_; }

private:
  struct Client;
  void run();
  bool try_connect(Client& c);
  void failed(const std::string& reason, bool refusal = false);
  void pump(Client& c);
  void say_offline(Client& c);
  void log(const std::optional<LinkLogLine>& line);
  std::int64_t waiting();

  std::shared_ptr<hist::HistoryStore> store_;
  TelemetryOptions options_;
  Sent sentRows_;
  LogLine log_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;

  // The thread's own.
  LinkState state_;
  Backoff backoff_;
  std::int64_t cursor_ = 0;  // the last row handed to the client
  std::uint64_t generation_ = 0;
  bool moreMaybe_ = true;
  std::map<int, std::int64_t> inFlight_;  // packet id -> row
  std::set<std::int64_t> inFlightRows_;
  std::vector<std::int64_t> acked_;
  mutable std::mutex stateMutex_;  // stateText_
  std::string stateText_ = "connecting";

  std::atomic<std::uint64_t> sent_{0};
  std::atomic<std::uint64_t> bytesSent_{0};
  std::atomic<bool> up_{false};
  // The outbox generation the thread has read up to, and whether it then
  // had nothing in flight and nothing more to send.
  std::atomic<std::uint64_t> seenGeneration_{0};
  std::atomic<bool> idle_{false};
  std::thread thread_;
};

}  // namespace telemetry
