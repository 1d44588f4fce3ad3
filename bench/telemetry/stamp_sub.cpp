// A subscriber that stamps each message with the wall clock on receipt,
// for latencies against meter-host's log (stamped by the same clock).
//   stamp_sub HOST PORT TOPIC [UNTIL_SEQ]
// Prints "subscribed" once the broker has taken the subscription, then one
// line a message: "UNIX_TIME TOPIC PUBLISH_BYTES SEQ ALARM_ID STATE", "-"
// for what the message lacks. With UNTIL_SEQ it exits once it holds every
// seq 1..UNTIL_SEQ.
#include <mosquitto.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <json/reader.h>
#include <json/value.h>

#include "link_state.h"

namespace {

struct Subscriber {
  std::string topic;
  long until = 0;
  std::vector<bool> seen;
  long held = 0;
};

std::string member(const Json::Value& v, const char* name) {
  return v.isObject() && v[name].isString() ? v[name].asString() : "-";
}

void on_message(mosquitto* m, void* obj, const mosquitto_message* msg) {
  const auto received = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch()).count();
  auto& s = *static_cast<Subscriber*>(obj);
  const char* text = static_cast<const char*>(msg->payload);
  Json::Value v;
  std::string errors;
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  if (msg->payloadlen == 0 || !reader->parse(text, text + msg->payloadlen, &v, &errors)) v = Json::Value();
  const long seq = v.isObject() && v["seq"].isIntegral() ? static_cast<long>(v["seq"].asInt64()) : 0;
  const std::string topic = msg->topic;
  std::printf("%lld.%09lld %s %zu %s %s %s\n", static_cast<long long>(received / 1000000000),
              static_cast<long long>(received % 1000000000), topic.c_str(),
              telemetry::publish_packet_bytes(topic.size(), static_cast<std::size_t>(msg->payloadlen)),
              seq > 0 ? std::to_string(seq).c_str() : "-", member(v, "alarmId").c_str(), member(v, "state").c_str());
  if (s.until > 0 && seq >= 1 && seq <= s.until && !s.seen[static_cast<std::size_t>(seq)]) {
    s.seen[static_cast<std::size_t>(seq)] = true;
    if (++s.held == s.until) mosquitto_disconnect(m);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: stamp_sub HOST PORT TOPIC [UNTIL_SEQ]\n");
    return 2;
  }
  // Lines go to a file that the script reads while this runs.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Subscriber s;
  s.topic = argv[3];
  if (argc == 5) s.until = std::strtol(argv[4], nullptr, 10);
  s.seen.assign(static_cast<std::size_t>(s.until) + 1, false);

  mosquitto_lib_init();
  mosquitto* m = mosquitto_new(nullptr, true, &s);
  if (!m) return std::fprintf(stderr, "stamp_sub: cannot make a client\n"), 1;
  mosquitto_connect_callback_set(m, [](mosquitto* c, void* obj, int rc) {
    if (rc != 0) {
      std::fprintf(stderr, "stamp_sub: refused: %s\n", mosquitto_connack_string(rc));
      mosquitto_disconnect(c);
      return;
    }
    mosquitto_subscribe(c, nullptr, static_cast<Subscriber*>(obj)->topic.c_str(), 1);
  });
  mosquitto_subscribe_callback_set(m, [](mosquitto*, void*, int, int, const int*) { std::printf("subscribed\n"); });
  mosquitto_message_callback_set(m, on_message);
  int rc = mosquitto_connect(m, argv[1], std::atoi(argv[2]), 30);
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_forever(m, 1000, 1);
  if (rc != MOSQ_ERR_SUCCESS) std::fprintf(stderr, "stamp_sub: %s\n", mosquitto_strerror(rc));
  mosquitto_destroy(m);
  mosquitto_lib_cleanup();
  return rc == MOSQ_ERR_SUCCESS ? 0 : 1;
}
