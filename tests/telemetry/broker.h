#pragma once
// A real MQTT broker for the tests: mosquitto run as a child process from a
// temporary directory of its own, with a CA and two server certificates,
// users and an access list; and a subscriber that keeps a persistent
// session and records what it receives.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace mqtt_test {

// The users of the password file.
inline constexpr const char* kMeterUser = "meter";
inline constexpr const char* kMeterPassword = "secret";
inline constexpr const char* kReaderUser = "reader";
inline constexpr const char* kReaderPassword = "reads";

// mosquitto on 127.0.0.1 with three listeners: plain MQTT, TLS with a
// certificate for localhost and 127.0.0.1, and TLS with one for another
// host name (signed by the same CA, so only a host name check refuses it).
// No anonymous clients; `meter` may publish and subscribe under
// `meterTopics` only, `reader` may subscribe to everything. Persistence is
// on, so persistent sessions and their queued QoS 1 messages outlive a
// stop() and start().
//
// Not thread-safe: one test thread drives it. The broker gets SIGKILL when
// the thread that called start() ends, so call it from the test's thread.
class Broker {
public:
  // Makes the directory, the certificates, the password and access files
  // and the configuration, and picks the ports; does not start mosquitto.
  // Throws std::runtime_error when a step fails.
  explicit Broker(std::string meterTopics = "site/test/#");
  // Stops mosquitto and removes the directory.
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  // Starts mosquitto and returns once all three listeners accept TCP
  // connections. Throws with the log's last lines when it does not within
  // 20 s. The ports stay the same from one start to the next.
  void start();
  // SIGTERM and waits for the end: mosquitto saves its database first.
  // Throws when it does not end within 20 s or ends with a failure.
  void stop();
  // SIGKILL: whatever was not saved yet (it saves every second) is lost.
  void kill();
  bool running() const;

  int port() const { return port_; }
  int tls_port() const { return tlsPort_; }
  int wrong_host_tls_port() const { return wrongHostTlsPort_; }
  // mqtt://127.0.0.1:PORT
  std::string url() const;
  // mqtts://localhost:PORT
  std::string tls_url() const;
  // mqtts://localhost:PORT of the listener whose certificate names
  // wrong.example only.
  std::string wrong_tls_url() const;

  const std::filesystem::path& dir() const { return dir_; }
  const std::string& meter_topics() const { return meterTopics_; }
  // The CA certificate (PEM) that signed both server certificates.
  std::string ca_file() const;
  // A file holding the meter's password and a newline.
  std::string password_file_for_meter() const;
  std::string config_file() const;
  // What mosquitto logged (all types), from every start so far.
  std::string log_text() const;
  // The last `lines` lines of the log and of mosquitto's own output.
  std::string log_tail(std::size_t lines = 40) const;

private:
  void make_certificates();
  void make_users();
  void write_config();
  std::string path(const char* name) const;
  // Reaps the child if it ended; returns whether it still runs.
  bool reap() const;

  std::filesystem::path dir_;
  std::string meterTopics_;
  int port_ = 0;
  int tlsPort_ = 0;
  int wrongHostTlsPort_ = 0;
  mutable pid_t pid_ = -1;
  mutable int lastStatus_ = 0;
};

// mosquitto_lib_init, once per process; for the tests' own clients too.
void init_mosquitto();

struct Message {
  std::string topic;
  std::string payload;
  bool retain = false;
  int qos = 0;
};

// Subscribes as `reader` over the plain listener with a fixed client id and
// a persistent session (clean session off) at QoS 1, and records every
// message in order. When the connection drops (the broker restarts) it
// connects again every 100 ms, subscribes again, and receives what the
// broker queued for the session meanwhile.
//
// One thread of its own runs the client; libmosquitto is touched from that
// thread only, and the test's thread reads the records under a mutex.
class Subscriber {
public:
  Subscriber(const Broker& broker, std::string clientId, std::string filter);
  // Sends DISCONNECT when connected: the broker keeps the session and
  // queues QoS 1 messages for it until the same client id comes back.
  ~Subscriber();
  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;

  // Waits until the subscription is acknowledged on the current connection.
  // Wait for this before publishing: the session exists from then on.
  bool wait_connected(std::chrono::seconds timeout);
  bool connected() const;
  // Whether the broker had the session already at the latest connection.
  bool session_present() const;
  // How many connections were accepted so far.
  int connections() const;
  // The latest refusal or connection error, for failure messages.
  std::string last_problem() const;

  std::vector<Message> messages() const;
  // Waits until `pred` holds for the messages (called under the lock).
  bool wait_for(const std::function<bool(const std::vector<Message>&)>& pred, std::chrono::seconds timeout);
  void clear();

private:
  void run();
  void on_connect(int rc, int flags);
  void on_subscribe(int count, const int* granted);
  void on_message(const mosquitto_message& message);
  void on_disconnect(int rc);
  void lost(const std::string& why);

  std::string clientId_;
  std::string filter_;
  int port_;
  mosquitto* client_ = nullptr;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool subscribed_ = false;
  bool sessionPresent_ = false;
  int connections_ = 0;
  std::string lastProblem_;
  std::vector<Message> messages_;
  std::thread thread_;
};

}  // namespace mqtt_test
