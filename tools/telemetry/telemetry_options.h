#pragma once
// Where the readings go off site and how much waits for the broker: from
// the site file's "mqtt" member and meter-host's --mqtt options, the
// options winning. Off unless a broker URL is given.
#include <optional>
#include <string>

#include <json/value.h>

#include "cli_fwd.h"

namespace telemetry {

struct BrokerAddress {
  bool tls = false;
  std::string host;
  int port = 1883;
};

// "mqtt://HOST[:PORT]" (port 1883) or "mqtts://HOST[:PORT]" (8883); an
// IPv6 host in brackets. False with the reason otherwise.
bool parse_broker_url(const std::string& url, BrokerAddress* out, std::string* error);

// Why a broker is refused without a history file.
inline constexpr const char* kNeedsHistory =
    "--mqtt needs a history (--history FILE, or the site's \"history\".\"path\"): what waits for the broker is kept there";

struct TelemetryOptions {
  std::string url;  // empty: off
  BrokerAddress broker;
  std::string user;
  std::string passwordFile;
  std::string password;  // read from passwordFile
  std::string caFile;  // none: the system's certificates
  std::string clientId;  // default: kvrm4410t-<host name>
  std::string prefix;  // default: kvrm4410t/<host name>
  double everySeconds = 60;
  double outboxMaxMb = 64;
  double outboxMaxDays = 30;
};

struct TelemetryFlags {
  std::optional<std::string> url, user, passwordFile, caFile, clientId, prefix;
  std::optional<double> everySeconds, outboxMaxMb, outboxMaxDays;
};

// --mqtt, --mqtt-user, --mqtt-password-file, --mqtt-ca, --mqtt-client-id,
// --mqtt-prefix, --mqtt-every, --outbox-max-mb, --outbox-max-days.
void add_telemetry_flags(CLI::App& app, TelemetryFlags& flags, const std::string& group);

// The settings from the flags and the site's "mqtt" member (null when
// absent), the defaults filled in and the password read. False with the
// reason when they do not hold; out->url empty when no broker is named.
bool resolve_telemetry(const TelemetryFlags& flags, const Json::Value& site, const std::string& hostName,
                       TelemetryOptions* out, std::string* error);

// The machine's name, for the defaults.
std::string host_name();

}  // namespace telemetry
