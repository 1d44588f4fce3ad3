#include "mqtt_link.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace telemetry {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Messages handed to the client and not yet acknowledged: enough to keep
// a slow link busy, few enough to send again after a break.
constexpr std::size_t kWindow = 32;
constexpr int kKeepAliveSeconds = 30;
constexpr auto kConnectTimeout = std::chrono::seconds(30);
// A clean stop waits this long for the broker to take "offline".
constexpr auto kGoodbyeTimeout = std::chrono::seconds(3);
constexpr int kLoopMs = 100;

std::once_flag libraryStarted;

}  // namespace

struct MqttLink::Client {
  explicit Client(MqttLink* l) : link(l) {}
  ~Client() {
    if (m) mosquitto_destroy(m);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  MqttLink* link;
  mosquitto* m = nullptr;
  bool connected = false;
  bool announced = false;
  int refused = -1;  // the broker's CONNACK code when it refused
  int publishRefused = -1;  // a PUBACK's code when the broker would not take a message
  std::string firstError;  // the library's first error line (TLS: the cause, not what follows it)
  // The link counts as up once the broker took "online" on P/status: a
  // broker that takes the connection but not our messages is no link.
  int onlineMid = -1;
  bool onlineTaken = false;
  int goodbyeMid = -1;
  bool goodbyeTaken = false;
  SteadyClock::time_point started;
};

namespace {

// Why the library gave up, in the words a log reader needs: a TLS failure
// as OpenSSL said it (a certificate that does not verify), whichever call
// met it.
std::string describe(int rc, int error, const std::string& firstError, const std::string& host) {
  switch (rc) {
    case MOSQ_ERR_TLS:
      return "TLS: " + (firstError.empty() ? std::string("the handshake failed") : firstError);
    case MOSQ_ERR_ERRNO:
      return std::strerror(error);
    case MOSQ_ERR_EAI:
      return "cannot resolve " + host;
    default:
      return mosquitto_strerror(rc);
  }
}

}  // namespace

MqttLink::MqttLink(std::shared_ptr<hist::HistoryStore> store, const TelemetryOptions& options, Sent sent, LogLine log)
    : store_(std::move(store)), options_(options), sentRows_(std::move(sent)), log_(std::move(log)), state_(options.url) {
  std::call_once(libraryStarted, [] { mosquitto_lib_init(); });
  thread_ = std::thread([this] { run(); });
}

MqttLink::~MqttLink() { stop(); }

void MqttLink::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void MqttLink::drain(std::chrono::milliseconds timeout) {
  const std::uint64_t wanted = store_->outbox_generation();
  const auto until = SteadyClock::now() + timeout;
  while (up_ && !(seenGeneration_ >= wanted && idle_) && SteadyClock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

std::string MqttLink::state_text() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return stateText_;
}

void MqttLink::log(const std::optional<LinkLogLine>& line) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    stateText_ = state_.text();
  }
  if (line && log_) log_(*line);
}

std::int64_t MqttLink::waiting() { return store_->outbox_figures().messages; }

void MqttLink::failed(const std::string& reason, bool refusal) {
  up_ = false;
  idle_ = false;
  // What was in flight is sent again, from the oldest.
  if (!inFlightRows_.empty()) cursor_ = *inFlightRows_.begin() - 1;
  inFlight_.clear();
  inFlightRows_.clear();
  moreMaybe_ = true;
  log(state_.failed(reason, waiting(), refusal));
}

bool MqttLink::try_connect(Client& c) {
  c.m = mosquitto_new(options_.clientId.c_str(), true, &c);
  if (!c.m) {
    failed(std::string("cannot make an MQTT client: ") + std::strerror(errno));
    return false;
  }
  // MQTT 5: a broker that will not take a message (its access list) says
  // so in the PUBACK, where 3.1.1 acknowledges it and drops it. Such a
  // message stays in the outbox.
  mosquitto_int_option(c.m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_connect_v5_callback_set(c.m, [](mosquitto*, void* obj, int rc, int, const mosquitto_property*) {
    auto* client = static_cast<Client*>(obj);
    if (rc == 0)
      client->connected = true;
    else
      client->refused = rc;
  });
  mosquitto_publish_v5_callback_set(c.m, [](mosquitto*, void* obj, int mid, int reason, const mosquitto_property*) {
    auto* client = static_cast<Client*>(obj);
    if (reason >= 0x80) {
      client->publishRefused = reason;
      return;
    }
    if (mid == client->onlineMid) client->onlineTaken = true;
    if (mid == client->goodbyeMid) client->goodbyeTaken = true;
    MqttLink& link = *client->link;
    const auto it = link.inFlight_.find(mid);
    if (it == link.inFlight_.end()) return;  // the status
    link.acked_.push_back(it->second);
    link.inFlightRows_.erase(it->second);
    link.inFlight_.erase(it);
    ++link.sent_;
  });
  mosquitto_log_callback_set(c.m, [](mosquitto*, void* obj, int level, const char* text) {
    auto* client = static_cast<Client*>(obj);
    if (level == MOSQ_LOG_ERR && text && client->firstError.empty()) client->firstError = text;
  });
  int rc = MOSQ_ERR_SUCCESS;
  if (!options_.user.empty())
    rc = mosquitto_username_pw_set(c.m, options_.user.c_str(),
                                   options_.passwordFile.empty() ? nullptr : options_.password.c_str());
  const std::string status = options_.prefix + "/status";
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_will_set(c.m, status.c_str(), 7, "offline", 1, true);
  if (rc == MOSQ_ERR_SUCCESS && options_.broker.tls) {
    rc = mosquitto_tls_set(c.m, options_.caFile.empty() ? nullptr : options_.caFile.c_str(),
                           options_.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_insecure_set(c.m, false);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    failed(std::string("cannot set the client up: ") + mosquitto_strerror(rc));
    return false;
  }
  c.started = SteadyClock::now();
  errno = 0;
  rc = mosquitto_connect_async(c.m, options_.broker.host.c_str(), options_.broker.port, kKeepAliveSeconds);
  if (rc == MOSQ_ERR_SUCCESS) return true;
  failed(describe(rc, errno, c.firstError, options_.broker.host), rc == MOSQ_ERR_TLS);
  return false;
}

void MqttLink::pump(Client& c) {
  const std::uint64_t generation = store_->outbox_generation();
  if (generation != generation_) {
    generation_ = generation;
    moreMaybe_ = true;
  }
  std::vector<hist::QueuedMessage> rows;
  while (moreMaybe_ && inFlight_.size() < kWindow) {
    const std::size_t asked = kWindow - inFlight_.size();
    std::string error;
    if (!store_->outbox_after(cursor_, asked, &rows, &error)) {
      moreMaybe_ = false;  // tried again with the next commit
      return;
    }
    if (rows.size() < asked) moreMaybe_ = false;
    for (const hist::QueuedMessage& row : rows) {
      const std::string topic = options_.prefix + "/" + row.topic;
      int mid = 0;
      if (mosquitto_publish(c.m, &mid, topic.c_str(), static_cast<int>(row.payload.size()), row.payload.data(), 1,
                            row.retain) != MOSQ_ERR_SUCCESS)
        return;  // the loop finds out why
      inFlight_[mid] = row.id;
      inFlightRows_.insert(row.id);
      cursor_ = row.id;
      bytesSent_ += publish_packet_bytes(topic.size(), row.payload.size());
    }
  }
}

void MqttLink::say_offline(Client& c) {
  const std::string status = options_.prefix + "/status";
  if (mosquitto_publish(c.m, &c.goodbyeMid, status.c_str(), 7, "offline", 1, true) == MOSQ_ERR_SUCCESS) {
    bytesSent_ += publish_packet_bytes(status.size(), 7);
    const auto until = SteadyClock::now() + kGoodbyeTimeout;
    while (!c.goodbyeTaken && SteadyClock::now() < until)
      if (mosquitto_loop(c.m, kLoopMs, 1) != MOSQ_ERR_SUCCESS) break;
  }
  mosquitto_disconnect(c.m);
  mosquitto_loop(c.m, 0, 1);
}

void MqttLink::run() {
  std::unique_ptr<Client> client;
  auto nextTry = SteadyClock::now();
  const auto retryLater = [&] {
    client.reset();
    nextTry = SteadyClock::now() + backoff_.next();
  };
  for (;;) {
    if (!client) {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_until(lock, nextTry, [&] { return stopping_; });
      if (stopping_) break;
      lock.unlock();
      client = std::make_unique<Client>(this);
      if (!try_connect(*client)) {
        retryLater();
        continue;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
    }
    const int rc = mosquitto_loop(client->m, kLoopMs, 1);
    const int error = errno;
    std::string why;
    if (client->refused >= 0)
      why = std::string("the broker refused the connection: ") + mosquitto_reason_string(client->refused);
    else if (client->publishRefused >= 0)
      why = "the broker refused messages under " + options_.prefix + ": " +
            mosquitto_reason_string(client->publishRefused);
    else if (rc != MOSQ_ERR_SUCCESS)
      why = describe(rc, error, client->firstError, options_.broker.host);
    else if (!client->announced && SteadyClock::now() - client->started > kConnectTimeout)
      why = "no answer from the broker";
    if (!why.empty()) {
      failed(why, client->refused >= 0 || client->publishRefused >= 0 || rc == MOSQ_ERR_TLS);
      retryLater();
      continue;
    }
    if (client->connected && client->onlineMid < 0) {
      const std::string status = options_.prefix + "/status";
      if (mosquitto_publish(client->m, &client->onlineMid, status.c_str(), 6, "online", 1, true) == MOSQ_ERR_SUCCESS)
        bytesSent_ += publish_packet_bytes(status.size(), 6);
    }
    if (client->onlineTaken && !client->announced) {
      client->announced = true;
      backoff_.reset();
      up_ = true;
      moreMaybe_ = true;
      log(state_.connected(waiting()));
    }
    if (client->announced) pump(*client);
    if (!acked_.empty()) {
      sentRows_(acked_);
      acked_.clear();
    }
    idle_ = client->announced && !moreMaybe_ && inFlight_.empty();
    seenGeneration_ = generation_;
  }
  if (client && client->announced) say_offline(*client);
  if (!acked_.empty()) sentRows_(acked_);
  acked_.clear();
  client.reset();
  up_ = false;
  std::lock_guard<std::mutex> lock(stateMutex_);
  stateText_ = "stopped";
}

}  // namespace telemetry
