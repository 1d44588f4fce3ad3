// The broker fixture itself: the access list, the passwords, the two TLS
// listeners, and a persistent session across a restart.
#include <gtest/gtest.h>

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "broker.h"

namespace broker_fixture_test {

using namespace std::chrono_literals;
using mqtt_test::Broker;
using mqtt_test::Message;
using mqtt_test::Subscriber;

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
    mosquitto_publish_callback_set(client_, [](mosquitto*, void* self, int mid) {
      static_cast<Client*>(self)->acked_.push_back(mid);
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

  // Publishes and waits for the broker's PUBACK.
  bool publish(const std::string& topic, const std::string& payload, bool retain = false) {
    int mid = 0;
    const int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                     1, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
      errors_ += std::string("publish: ") + mosquitto_strerror(rc) + "\n";
      return false;
    }
    return step_until([&] { return std::find(acked_.begin(), acked_.end(), mid) != acked_.end(); });
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
  std::vector<int> acked_;
  std::string errors_;
};

bool has_topic(const std::vector<Message>& messages, const std::string& topic) {
  return std::any_of(messages.begin(), messages.end(), [&](const Message& m) { return m.topic == topic; });
}

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class BrokerTest : public ::testing::Test {
protected:
  void SetUp() override { broker.start(); }

  // The broker's log with any failure: what it refused, and why.
  void TearDown() override {
    if (HasFailure()) std::cerr << broker.log_tail(60);
  }

  Broker broker{"site/test/#"};
};

TEST_F(BrokerTest, MeterPublishesUnderItsPrefix) {
  Subscriber sub(broker, "reader-prefix", "site/test/#");
  ASSERT_TRUE(sub.wait_connected(kWait)) << sub.last_problem();

  Client meter("meter-prefix", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  ASSERT_EQ(meter.connect("127.0.0.1", broker.port()), 0) << meter.errors();
  ASSERT_TRUE(meter.publish("site/test/m1/reading", "42.5")) << meter.errors();

  ASSERT_TRUE(sub.wait_for([](const auto& ms) { return has_topic(ms, "site/test/m1/reading"); }, kWait));
  const std::vector<Message> got = sub.messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].payload, "42.5");
  EXPECT_EQ(got[0].qos, 1);
  EXPECT_FALSE(got[0].retain);

  sub.clear();
  EXPECT_TRUE(sub.messages().empty());
}

TEST_F(BrokerTest, RetainedMessageComesFlaggedToALaterSubscriber) {
  Client meter("meter-retain", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  ASSERT_EQ(meter.connect("127.0.0.1", broker.port()), 0) << meter.errors();
  ASSERT_TRUE(meter.publish("site/test/status", "online", true)) << meter.errors();

  Subscriber sub(broker, "reader-retain", "site/test/#");
  ASSERT_TRUE(sub.wait_connected(kWait)) << sub.last_problem();
  ASSERT_TRUE(sub.wait_for([](const auto& ms) { return has_topic(ms, "site/test/status"); }, kWait));
  EXPECT_TRUE(sub.messages().at(0).retain);
  EXPECT_EQ(sub.messages().at(0).payload, "online");
}

TEST_F(BrokerTest, AccessListKeepsEachUserToItsTopics) {
  Subscriber sub(broker, "reader-acl", "#");
  ASSERT_TRUE(sub.wait_connected(kWait)) << sub.last_problem();

  // The broker acknowledges a refused publication all the same (MQTT
  // 3.1.1 has no way to say no) and drops it.
  Client meter("meter-acl", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  ASSERT_EQ(meter.connect("127.0.0.1", broker.port()), 0) << meter.errors();
  ASSERT_TRUE(meter.publish("elsewhere/reading", "1")) << meter.errors();
  Client reader("reader-publishing", mqtt_test::kReaderUser, mqtt_test::kReaderPassword);
  ASSERT_EQ(reader.connect("127.0.0.1", broker.port()), 0) << reader.errors();
  ASSERT_TRUE(reader.publish("site/test/forged", "1")) << reader.errors();
  // One connection's messages reach a subscriber in order, so once this
  // one is there the meter's refused one would have been too.
  ASSERT_TRUE(meter.publish("site/test/marker", "1")) << meter.errors();

  ASSERT_TRUE(sub.wait_for([](const auto& ms) { return has_topic(ms, "site/test/marker"); }, kWait));
  EXPECT_FALSE(has_topic(sub.messages(), "elsewhere/reading"));
  // The reader's publication came over another connection: the broker has
  // dealt with it since its PUBACK, which came before the marker was sent.
  EXPECT_FALSE(has_topic(sub.messages(), "site/test/forged"));
  EXPECT_NE(broker.log_text().find("Denied PUBLISH from meter-acl"), std::string::npos);
}

TEST_F(BrokerTest, WrongPasswordUnknownUserAndAnonymousAreRefused) {
  Client wrong("meter-wrong", mqtt_test::kMeterUser, "not-the-password");
  EXPECT_GT(wrong.connect("127.0.0.1", broker.port()), 0) << wrong.errors();
  Client unknown("stranger", "stranger", "secret");
  EXPECT_GT(unknown.connect("127.0.0.1", broker.port()), 0) << unknown.errors();
  Client anonymous("anonymous", nullptr, nullptr);
  EXPECT_GT(anonymous.connect("127.0.0.1", broker.port()), 0) << anonymous.errors();

  EXPECT_EQ(read_text(broker.password_file_for_meter()), std::string(mqtt_test::kMeterPassword) + "\n");
  Client right("meter-right", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  EXPECT_EQ(right.connect("127.0.0.1", broker.port()), 0) << right.errors();
}

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

TEST_F(BrokerTest, SubscriberGetsMessagesFromBeforeAndAfterARestart) {
  Subscriber sub(broker, "reader-restart", "site/test/#");
  ASSERT_TRUE(sub.wait_connected(kWait)) << sub.last_problem();
  {
    Client meter("meter-before", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
    ASSERT_EQ(meter.connect("127.0.0.1", broker.port()), 0) << meter.errors();
    ASSERT_TRUE(meter.publish("site/test/before", "1")) << meter.errors();
  }
  ASSERT_TRUE(sub.wait_for([](const auto& ms) { return has_topic(ms, "site/test/before"); }, kWait));

  const int port = broker.port();
  broker.stop();
  EXPECT_FALSE(broker.running());
  broker.start();
  EXPECT_TRUE(broker.running());
  EXPECT_EQ(broker.port(), port);

  Client meter("meter-after", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  ASSERT_EQ(meter.connect("127.0.0.1", broker.port()), 0) << meter.errors();
  ASSERT_TRUE(meter.publish("site/test/after", "2")) << meter.errors();
  ASSERT_TRUE(sub.wait_for([](const auto& ms) { return has_topic(ms, "site/test/after"); }, kWait))
      << sub.last_problem();
  EXPECT_TRUE(has_topic(sub.messages(), "site/test/before"));
  EXPECT_GE(sub.connections(), 2);
  EXPECT_TRUE(sub.session_present());
}

// The session and what was queued for it while its subscriber was away
// come back from the broker's database after a restart.
TEST_F(BrokerTest, QueuedMessagesOutliveARestart) {
  {
    Subscriber first(broker, "reader-away", "site/test/#");
    ASSERT_TRUE(first.wait_connected(kWait)) << first.last_problem();
  }
  {
    Client meter("meter-away", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
    ASSERT_EQ(meter.connect("127.0.0.1", broker.port()), 0) << meter.errors();
    ASSERT_TRUE(meter.publish("site/test/queued/1", "1")) << meter.errors();
  }
  broker.stop();
  broker.start();
  {
    Client meter("meter-away", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
    ASSERT_EQ(meter.connect("127.0.0.1", broker.port()), 0) << meter.errors();
    ASSERT_TRUE(meter.publish("site/test/queued/2", "2")) << meter.errors();
  }

  Subscriber back(broker, "reader-away", "site/test/#");
  ASSERT_TRUE(back.wait_for(
      [](const auto& ms) { return has_topic(ms, "site/test/queued/1") && has_topic(ms, "site/test/queued/2"); },
      kWait))
      << back.last_problem();
  EXPECT_TRUE(back.session_present());
}

TEST_F(BrokerTest, StartsAgainAfterKill) {
  broker.kill();
  EXPECT_FALSE(broker.running());
  broker.start();
  Client meter("meter-killed", mqtt_test::kMeterUser, mqtt_test::kMeterPassword);
  EXPECT_EQ(meter.connect("127.0.0.1", broker.port()), 0) << meter.errors();
}

}  // namespace broker_fixture_test
