#include "telemetry_options.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "command_line.h"

namespace telemetry {

namespace {

// The texts and the numbers of the member, with the flag of each: one
// table for the site file and the command line.
struct TextSetting {
  const char* member;
  const char* flag;
  std::string TelemetryOptions::*value;
  std::optional<std::string> TelemetryFlags::*given;
  const char* type;
  const char* help;
};
const TextSetting kTexts[] = {
    {"url", "--mqtt", &TelemetryOptions::url, &TelemetryFlags::url, "URL",
     "send the readings to this MQTT broker: mqtt://HOST[:PORT] or\nmqtts://HOST[:PORT] (TLS); needs --history, "
     "which holds\nwhat waits for the broker"},
    {"user", "--mqtt-user", &TelemetryOptions::user, &TelemetryFlags::user, "NAME", "the broker's user name"},
    {"passwordFile", "--mqtt-password-file", &TelemetryOptions::passwordFile, &TelemetryFlags::passwordFile, "FILE",
     "the broker's password: the first line of FILE"},
    {"ca", "--mqtt-ca", &TelemetryOptions::caFile, &TelemetryFlags::caFile, "FILE",
     "the certificate authority that signed the broker's certificate\n(default: the system's)"},
    {"clientId", "--mqtt-client-id", &TelemetryOptions::clientId, &TelemetryFlags::clientId, "ID",
     "the MQTT client id (default kvrm4410t-<host name>)"},
    {"prefix", "--mqtt-prefix", &TelemetryOptions::prefix, &TelemetryFlags::prefix, "PREFIX",
     "the topics' prefix (default kvrm4410t/<host name>)"},
};

struct NumberSetting {
  const char* member;
  const char* flag;
  double TelemetryOptions::*value;
  std::optional<double> TelemetryFlags::*given;
  double min;
  double max;
  const char* type;
  const char* help;
};
const NumberSetting kNumbers[] = {
    {"everySeconds", "--mqtt-every", &TelemetryOptions::everySeconds, &TelemetryFlags::everySeconds, 0, 86400,
     "SECONDS", "send each meter's newest round this often (default 60)"},
    {"outboxMaxMb", "--outbox-max-mb", &TelemetryOptions::outboxMaxMb, &TelemetryFlags::outboxMaxMb, 0.01, 1024 * 1024,
     "MB", "what may wait for the broker; over it the oldest readings\ngo first (default 64)"},
    {"outboxMaxDays", "--outbox-max-days", &TelemetryOptions::outboxMaxDays, &TelemetryFlags::outboxMaxDays, 0.001,
     36600, "DAYS", "how long a message may wait for the broker (default 30)"},
};

bool read_password(const std::string& path, std::string* password, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read the MQTT password file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::getline(in, *password);
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return true;
}

}  // namespace

std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

bool parse_broker_url(const std::string& url, BrokerAddress* out, std::string* error) {
  BrokerAddress a;
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    a.tls = true;
    a.port = 8883;
    rest = url.substr(8);
  } else {
    *error = "\"" + url + "\" is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string port;
  if (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos) {
      *error = "\"" + url + "\": the IPv6 address has no closing bracket";
      return false;
    }
    a.host = rest.substr(1, close - 1);
    const std::string after = rest.substr(close + 1);
    if (!after.empty() && after.front() != ':') {
      *error = "\"" + url + "\": expected :PORT after the address";
      return false;
    }
    if (!after.empty()) port = after.substr(1);
  } else {
    const auto colon = rest.find(':');
    a.host = rest.substr(0, colon);
    if (colon != std::string::npos) port = rest.substr(colon + 1);
    if (colon != std::string::npos && port.empty()) port = "-";
  }
  if (a.host.empty() || a.host.find_first_of("/?#@ ") != std::string::npos) {
    *error = "\"" + url + "\": no host name";
    return false;
  }
  if (!port.empty()) {
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos || std::stol(port) < 1 ||
        std::stol(port) > 65535) {
      *error = "\"" + url + "\": the port must be a number from 1 to 65535";
      return false;
    }
    a.port = static_cast<int>(std::stol(port));
  }
  *out = a;
  return true;
}

void add_telemetry_flags(CLI::App& app, TelemetryFlags& flags, const std::string& group) {
  for (const TextSetting& t : kTexts)
    app.add_option(t.flag, flags.*t.given, t.help)->type_name(t.type)->group(group);
  for (const NumberSetting& n : kNumbers)
    cli::add_number(app, n.flag, [&flags, &n](double v) { flags.*n.given = v; }, n.min, n.max, n.help)
        ->type_name(n.type)
        ->group(group);
}

bool resolve_telemetry(const TelemetryFlags& flags, const Json::Value& site, const std::string& hostName,
                       TelemetryOptions* out, std::string* error) {
  TelemetryOptions o;
  if (!site.isNull() && !site.isObject()) {
    *error = "the site's \"mqtt\" must be an object";
    return false;
  }
  for (const TextSetting& t : kTexts) {
    if (flags.*t.given) {
      o.*t.value = *(flags.*t.given);
    } else if (site.isObject() && site.isMember(t.member)) {
      if (!site[t.member].isString()) {
        *error = std::string("the site's \"mqtt\".\"") + t.member + "\" must be a text";
        return false;
      }
      o.*t.value = site[t.member].asString();
    }
  }
  for (const NumberSetting& n : kNumbers) {
    if (flags.*n.given) {
      o.*n.value = *(flags.*n.given);
    } else if (site.isObject() && site.isMember(n.member)) {
      const Json::Value& v = site[n.member];
      if (!v.isNumeric() || !(v.asDouble() >= n.min) || v.asDouble() > n.max) {
        *error = std::string("the site's \"mqtt\".\"") + n.member + "\" must be " + cli::number_range(n.min, n.max);
        return false;
      }
      o.*n.value = v.asDouble();
    }
  }
  if (o.clientId.empty()) o.clientId = "kvrm4410t-" + hostName;
  if (o.prefix.empty()) o.prefix = "kvrm4410t/" + hostName;
  while (o.prefix.size() > 1 && o.prefix.back() == '/') o.prefix.pop_back();
  if (o.prefix.find_first_of("+#") != std::string::npos) {
    *error = "the MQTT prefix \"" + o.prefix + "\" may not hold + or #";
    return false;
  }
  if (o.url.empty()) {
    *out = o;
    return true;
  }
  if (!parse_broker_url(o.url, &o.broker, error)) {
    *error = (flags.url ? "--mqtt: " : "the site's \"mqtt\".\"url\": ") + *error;
    return false;
  }
  if (!o.passwordFile.empty() && !read_password(o.passwordFile, &o.password, error)) return false;
  if (!o.caFile.empty() && !o.broker.tls) {
    *error = "--mqtt-ca needs an mqtts:// broker";
    return false;
  }
  *out = o;
  return true;
}

}  // namespace telemetry
