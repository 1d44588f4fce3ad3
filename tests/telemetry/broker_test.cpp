// The broker fixture's two TLS listeners: the end-to-end tests take the
// second one's refusal for a wrong host name, and this shows that the
// name is all it refuses. The rest of the fixture (users, the access
// list, persistence) those tests use directly.
#include <gtest/gtest.h>

#include <mosquitto.h>

#include <chrono>
#include <iostream>
#include <string>

#include "broker.h"

namespace broker_fixture_test {

using namespace std::chrono_literals;
using mqtt_test::Broker;

constexpr auto kWait = 20s;

// A client driven step by step on the test's thread: connect, publish and
// wait for the acknowledgement, each against a deadline.
class Client {
public:
  Client(const std::string& id, const char* user, const char* password) {
    mqtt_test::init_mosquitto();
    client_ = mosquitto_new(id.c_str(), true, this);
    if (user != nullptr) mosquitto_username_pw_set(client_, user, password);
    mosquitto_connect_callback_set(client_, [](mosquitto*, void* self, int rc) {
      static_cast<Client*>(self)->connack_ = rc;
    });
    mosquitto_log_callback_set(client_, [](mosquitto*, void* self, int level, const char* text) {
      if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) static_cast<Client*>(self)->errors_ += std::string(text) + "\n";
    });
  }
  ~Client() {
    if (connack_ == 0) mosquitto_disconnect(client_);
    mosquitto_destroy(client_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // With host name checking, as libmosquitto does unless told otherwise.
  void use_tls(const std::string& caFile, bool checkHostName = true) {
    mosquitto_tls_set(client_, caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    mosquitto_tls_insecure_set(client_, !checkHostName);
  }

  // The CONNACK's code, or -1 when the connection failed before it
  // (errors() says why).
  int connect(const std::string& host, int port) {
    const int rc = mosquitto_connect(client_, host.c_str(), port, 10);
    if (rc != MOSQ_ERR_SUCCESS) {
      errors_ += std::string("connect: ") + mosquitto_strerror(rc) + "\n";
      return -1;
    }
    return step_until([this] { return connack_ >= 0; }) ? connack_ : -1;
  }

  const std::string& errors() const { return errors_; }

private:
  template <typename Pred>
  bool step_until(Pred done) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) {
        errors_ += "no answer in time\n";
        return false;
      }
      const int rc = mosquitto_loop(client_, 50, 1);
      if (rc != MOSQ_ERR_SUCCESS && !done()) {
        errors_ += std::string("loop: ") + mosquitto_strerror(rc) + "\n";
        return false;
      }
    }
    return true;
  }

  mosquitto* client_ = nullptr;
  int connack_ = -1;
  std::string errors_;
};

class BrokerTest : public ::testing::Test {
protected:
  void SetUp() override { broker.start(); }

  // The broker's log with any failure: what it refused, and why.
  void TearDown() override {
    if (HasFailure()) std::cerr << broker.log_tail(60);
  }

  Broker broker{"site/test/#"};
};

TEST_F(BrokerTest, TlsVerifiesOnlyTheRightHostName) {
  EXPECT_EQ(broker.url(), "mqtt://127.0.0.1:" + std::to_string(broker.port()));
  EXPECT_EQ(broker.tls_url(), "mqtts://localhost:" + std::to_string(broker.tls_port()));
  EXPECT_EQ(broker.wrong_tls_url(), "mqtts://localhost:" + std::to_string(broker.wrong_host_tls_port()));

  Client good("meter-tls", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  good.use_tls(broker.ca_file());
  EXPECT_EQ(good.connect("localhost", broker.tls_port()), 0) << good.errors();
  // The certificate names the address too.
  Client byAddress("meter-tls-ip", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  byAddress.use_tls(broker.ca_file());
  EXPECT_EQ(byAddress.connect("127.0.0.1", broker.tls_port()), 0) << byAddress.errors();

  Client wrongHost("meter-wrong-host", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  wrongHost.use_tls(broker.ca_file());
  EXPECT_EQ(wrongHost.connect("localhost", broker.wrong_host_tls_port()), -1);
  EXPECT_NE(wrongHost.errors().find("certificate verify failed"), std::string::npos) << wrongHost.errors();

  // Signed by the same CA: without the host name check it is accepted,
  // so the name is all that the check above refused.
  Client unchecked("meter-unchecked", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  unchecked.use_tls(broker.ca_file(), false);
  EXPECT_EQ(unchecked.connect("localhost", broker.wrong_host_tls_port()), 0) << unchecked.errors();
}

}  // namespace broker_fixture_test
