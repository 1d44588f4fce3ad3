// The telemetry's pure parts: the messages' JSON, the broker URL and the
// options, the link's log lines and its retry pace.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include <json/reader.h>
#include <json/value.h>

#include "acquisition/data_block.h"
#include "link_state.h"
#include "member_keys.h"
#include "member_slots.h"
#include "payloads.h"
#include "support/temp_dir.h"
#include "telemetry_options.h"

namespace {

Json::Value parsed(const std::string& text) {
  Json::Value v;
  Json::CharReaderBuilder b;
  std::string errors;
  std::istringstream in(text);
  EXPECT_TRUE(Json::parseFromStream(b, in, &v, &errors)) << errors << "\n" << text;
  return v;
}

// Sets the zone for one test and puts the previous one back.
class Zone {
public:
  explicit Zone(const char* tz) {
    if (const char* was = std::getenv("TZ")) was_ = was;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~Zone() {
    if (was_)
      setenv("TZ", was_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  std::optional<std::string> was_;
};

constexpr std::time_t kTime = 1796697419;  // 2026-12-08 02:36:59 UTC

TEST(TelemetryPayload, TimesCarryTheirZoneOffset) {
  {
    Zone z("CST-8");
    EXPECT_EQ(telemetry::iso_time(kTime), "2026-12-08T10:36:59+08:00");
  }
  {
    Zone z("UTC0");
    EXPECT_EQ(telemetry::iso_time(kTime), "2026-12-08T02:36:59Z");
  }
  {
    Zone z("NST+3:30");
    EXPECT_EQ(telemetry::iso_time(kTime), "2026-12-07T23:06:59-03:30");
  }
}

TEST(TelemetryPayload, StateHasEveryMemberAtItsResolutionAndNullForNaN) {
  Zone z("CST-8");
  std::vector<unsigned char> block(kvrm::kBlockSize, 0);
  const auto& keys = readings::member_keys();
  const auto row = [&](const char* key) -> const kvrm::SignalRow& {
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (std::string(keys[i].key) == key) return kvrm::kSignalCatalogue[i];
    throw std::runtime_error(key);
  };
  readings::put_member(block.data(), row("phase_a_voltage"), 231.8186);
  readings::put_member(block.data(), row("frequency"), 50.02);
  readings::put_member(block.data(), row("e_fwd_p_total_ratio"), std::numeric_limits<double>::quiet_NaN());
  readings::put_member(block.data(), row("power_factor"), -0.5);

  const hist::OutboxMessage m = telemetry::state_message(3, 17, kTime, block.data());
  EXPECT_EQ(m.topic, "3/state");
  EXPECT_EQ(m.kind, "state");
  EXPECT_TRUE(m.counted);
  EXPECT_FALSE(m.retain);
  EXPECT_EQ(m.time, kTime);
  const Json::Value v = parsed(m.body);
  EXPECT_EQ(v["time"].asString(), "2026-12-08T10:36:59+08:00");
  EXPECT_EQ(v["round"].asUInt(), 17u);
  EXPECT_EQ(v["values"].size(), keys.size());
  EXPECT_DOUBLE_EQ(v["values"]["phase_a_voltage"].asDouble(), 231.8186);
  EXPECT_DOUBLE_EQ(v["values"]["frequency"].asDouble(), 50.02);
  EXPECT_DOUBLE_EQ(v["values"]["power_factor"].asDouble(), -0.5);
  EXPECT_TRUE(v["values"]["e_fwd_p_total_ratio"].isNull());
  // Compact: no spaces, no trailing zeros.
  EXPECT_EQ(m.body.find(' '), std::string::npos);
  EXPECT_NE(m.body.find("\"frequency\":50.02,"), std::string::npos) << m.body;
  EXPECT_NE(m.body.find("\"e_comb_p_total\":0,"), std::string::npos);
}

TEST(TelemetryPayload, AlarmAvailabilityGapAndMeta) {
  Zone z("UTC0");
  meter_host::AlarmChange c;
  c.meter.dataId = 2;
  c.time = kTime;
  c.event = {2, "0406101001", "A相电压", 2, true, "231.818604", "当前值231.818604高于阈值:231"};
  const hist::OutboxMessage a = telemetry::alarm_message(c);
  EXPECT_EQ(a.topic, "2/alarm");
  const Json::Value av = parsed(a.body);
  EXPECT_EQ(av["alarmId"].asString(), "0406101001");
  EXPECT_EQ(av["signal"].asString(), "A相电压");
  EXPECT_EQ(av["level"].asInt(), 2);
  EXPECT_EQ(av["state"].asString(), "raised");
  EXPECT_EQ(av["value"].asString(), "231.818604");
  EXPECT_EQ(av["text"].asString(), "当前值231.818604高于阈值:231");
  EXPECT_EQ(av["time"].asString(), "2026-12-08T02:36:59Z");
  EXPECT_NE(a.body.find("A相电压"), std::string::npos) << "UTF-8 as it is";

  meter_host::Availability off;
  off.meter.dataId = 2;
  off.since = kTime;
  const hist::OutboxMessage e = telemetry::availability_event(off);
  EXPECT_TRUE(e.counted);
  EXPECT_FALSE(e.retain);
  EXPECT_EQ(parsed(e.body)["state"].asString(), "offline");
  const hist::OutboxMessage r = telemetry::availability_retained(off);
  EXPECT_EQ(r.topic, "2/availability");
  EXPECT_FALSE(r.counted);
  EXPECT_TRUE(r.retain);
  EXPECT_EQ(r.body, "offline");

  const hist::OutboxMessage g = telemetry::gap_message(hist::DroppedRun{2, 5, 9, "outbox full"}, kTime);
  EXPECT_EQ(g.topic, "2/gap");
  EXPECT_TRUE(g.counted);
  const Json::Value gv = parsed(g.body);
  EXPECT_EQ(gv["from"].asInt(), 5);
  EXPECT_EQ(gv["to"].asInt(), 9);
  EXPECT_EQ(gv["reason"].asString(), "outbox full");

  const hist::OutboxMessage m = telemetry::meta_message(2, kTime);
  EXPECT_TRUE(m.retain);
  EXPECT_FALSE(m.counted);
  const Json::Value mv = parsed(m.body);
  EXPECT_EQ(mv.size(), readings::member_keys().size());
  EXPECT_EQ(mv["phase_a_voltage"]["name"].asString(), "A相电压");
  EXPECT_EQ(mv["phase_a_voltage"]["label"].asString(), "Phase A voltage");
  EXPECT_EQ(mv["phase_a_voltage"]["unit"].asString(), "V");
  EXPECT_EQ(mv["e_fwd_p_total"]["unit"].asString(), "kWh");
}

TEST(TelemetryOptions, BrokerUrls) {
  telemetry::BrokerAddress a;
  std::string error;
  ASSERT_TRUE(telemetry::parse_broker_url("mqtt://broker.example", &a, &error)) << error;
  EXPECT_FALSE(a.tls);
  EXPECT_EQ(a.host, "broker.example");
  EXPECT_EQ(a.port, 1883);
  ASSERT_TRUE(telemetry::parse_broker_url("mqtts://10.0.0.2:8884", &a, &error)) << error;
  EXPECT_TRUE(a.tls);
  EXPECT_EQ(a.port, 8884);
  ASSERT_TRUE(telemetry::parse_broker_url("mqtts://[fd00::1]", &a, &error)) << error;
  EXPECT_EQ(a.host, "fd00::1");
  EXPECT_EQ(a.port, 8883);
  for (const char* bad : {"http://x", "mqtt://", "mqtt://host:", "mqtt://host:0", "mqtt://host:70000",
                          "mqtt://host:12a", "mqtt://[fd00::1", "mqtt://user@host"}) {
    EXPECT_FALSE(telemetry::parse_broker_url(bad, &a, &error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

TEST(TelemetryOptions, SiteMemberDefaultsAndTheCommandLineWins) {
  kvtest::TempDir dir;
  dir.write("pw", "s3cret\nignored\n");
  Json::Value site;
  site["url"] = "mqtt://site.example:1884";
  site["user"] = "meter";
  site["passwordFile"] = dir.path("pw");
  site["everySeconds"] = 30;
  telemetry::TelemetryOptions o;
  std::string error;
  ASSERT_TRUE(telemetry::resolve_telemetry({}, site, "rbs-17", &o, &error)) << error;
  EXPECT_EQ(o.broker.host, "site.example");
  EXPECT_EQ(o.password, "s3cret");
  EXPECT_EQ(o.everySeconds, 30);
  EXPECT_EQ(o.outboxMaxMb, 64);
  EXPECT_EQ(o.outboxMaxDays, 30);
  EXPECT_EQ(o.prefix, "kvrm4410t/rbs-17");
  EXPECT_EQ(o.clientId, "kvrm4410t-rbs-17");

  telemetry::TelemetryFlags flags;
  flags.url = "mqtts://other.example";
  flags.prefix = "ops/site-9/";
  flags.everySeconds = 5;
  ASSERT_TRUE(telemetry::resolve_telemetry(flags, site, "rbs-17", &o, &error)) << error;
  EXPECT_TRUE(o.broker.tls);
  EXPECT_EQ(o.prefix, "ops/site-9");
  EXPECT_EQ(o.everySeconds, 5);

  ASSERT_TRUE(telemetry::resolve_telemetry({}, Json::Value(), "h", &o, &error)) << error;
  EXPECT_TRUE(o.url.empty()) << "off unless a broker is named";

  const std::pair<const char*, Json::Value> bad[] = {
      {"everySeconds", -1}, {"outboxMaxMb", 0}, {"outboxMaxDays", "30"}, {"url", "tcp://x"}, {"prefix", "a/#"}};
  for (const auto& [member, value] : bad) {
    Json::Value s = site;
    s[member] = value;
    EXPECT_FALSE(telemetry::resolve_telemetry({}, s, "h", &o, &error)) << member;
    EXPECT_FALSE(error.empty());
  }
  Json::Value s = site;
  s["passwordFile"] = dir.path("missing");
  EXPECT_FALSE(telemetry::resolve_telemetry({}, s, "h", &o, &error));
  EXPECT_NE(error.find("cannot read the MQTT password file"), std::string::npos) << error;
  EXPECT_FALSE(telemetry::resolve_telemetry({}, Json::Value("mqtt://x"), "h", &o, &error));
}

TEST(TelemetryLink, OneLinePerChangeOfState) {
  telemetry::LinkState s("mqtt://b:1883");
  EXPECT_EQ(s.text(), "connecting");
  auto line = s.failed("Connection refused", 3);
  ASSERT_TRUE(line);
  EXPECT_TRUE(line->warning);
  EXPECT_EQ(line->text,
            "mqtt: cannot use the broker mqtt://b:1883: Connection refused; 3 messages waiting, retrying (polling and "
            "storing go on)");
  EXPECT_FALSE(s.failed("Connection refused", 4)) << "the same reason again: quiet";
  EXPECT_FALSE(s.failed("No route to host", 4)) << "the network failing another way: quiet";
  line = s.failed("the broker refused the connection: not authorised", 4, true);
  ASSERT_TRUE(line) << "a refusal is told";
  EXPECT_FALSE(s.failed("the broker refused the connection: not authorised", 4, true));
  ASSERT_TRUE(s.failed("TLS: certificate verify failed", 4, true)) << "a new refusal is told";
  line = s.connected(1);
  ASSERT_TRUE(line);
  EXPECT_FALSE(line->warning);
  EXPECT_EQ(line->text, "mqtt: the broker mqtt://b:1883 is back, 1 message waiting");
  EXPECT_TRUE(s.up());
  EXPECT_FALSE(s.connected(0));
  line = s.failed("The connection was lost.", 9);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->text, "mqtt: lost the broker mqtt://b:1883: The connection was lost.; 9 messages waiting, retrying");
  EXPECT_FALSE(s.failed("Connection refused", 9)) << "one line when the broker goes away";
  EXPECT_EQ(s.text(), "down (Connection refused)");

  telemetry::LinkState fresh("mqtt://b:1883");
  EXPECT_EQ(fresh.connected(0)->text, "mqtt: connected to mqtt://b:1883, 0 messages waiting");
}

TEST(TelemetryLink, RetriesDoubleFromOneSecondToAMinute) {
  telemetry::Backoff b;
  std::vector<long> waits;
  for (int i = 0; i < 9; ++i) waits.push_back(static_cast<long>(b.next().count()));
  EXPECT_EQ(waits, (std::vector<long>{1, 2, 4, 8, 16, 32, 60, 60, 60}));
  b.reset();
  EXPECT_EQ(b.next().count(), 1);
}

TEST(TelemetryLink, PublishPacketBytes) {
  // Fixed header 1 + length 1, topic length 2 + 5, packet id 2, no
  // properties 1, payload 10.
  EXPECT_EQ(telemetry::publish_packet_bytes(5, 10), 22u);
  // A remaining length of 128 or more takes a second length byte.
  EXPECT_EQ(telemetry::publish_packet_bytes(10, 200), 1u + 2u + 2u + 10u + 2u + 1u + 200u);
}

}  // namespace
