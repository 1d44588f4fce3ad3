#include "web_options.h"

#include <arpa/inet.h>

#include <cstdlib>

#include "command_line.h"

namespace web {

namespace {

constexpr unsigned kMaxClientsLimit = 4096;

// An IPv4 or IPv6 address in its usual text form.
bool ip_address(const std::string& text) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, text.c_str(), buffer) == 1 || inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

}  // namespace

bool parse_listen(const std::string& text, std::string* address, unsigned short* port) {
  const auto colon = text.rfind(':');
  std::string host = colon == std::string::npos ? std::string() : text.substr(0, colon);
  const std::string number = colon == std::string::npos ? text : text.substr(colon + 1);
  if (number.empty() || number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos) return false;
  const long p = std::strtol(number.c_str(), nullptr, 10);
  if (p > 65535) return false;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) host = "127.0.0.1";
  if (!ip_address(host)) return false;
  *address = host;
  *port = static_cast<unsigned short>(p);
  return true;
}

void add_http_options(CLI::App& app, HttpOptions& o, const std::string& group) {
  app.add_option("--http", o.listen,
                 "serve the live page, the JSON API and /metrics on\nADDR:PORT (a port alone: 127.0.0.1)")
      ->check(CLI::Validator(
          [](std::string& text) {
            std::string address;
            unsigned short port = 0;
            return parse_listen(text, &address, &port) ? std::string()
                                                       : "expected ADDR:PORT or PORT, got \"" + text + "\"";
          },
          ""))
      ->type_name("ADDR:PORT")
      ->group(group);
  cli::add_whole(app, "--http-max-clients", [&o](long long v) { o.maxClients = static_cast<unsigned>(v); }, 1,
                 kMaxClientsLimit, "connections served at once; one more is answered 503\n(default 16)")
      ->group(group);
}

bool resolve_http(const HttpOptions& given, const Json::Value& site, ServerOptions* out, bool* enabled,
                  std::string* error) {
  std::optional<std::string> listen = given.listen;
  std::optional<unsigned> maxClients = given.maxClients;
  if (!site.isNull()) {
    if (!site.isObject()) {
      *error = "the site's \"http\" must be an object";
      return false;
    }
    if (!listen && site.isMember("listen")) {
      if (!site["listen"].isString()) {
        *error = "the site's \"http\".\"listen\" must be a text ADDR:PORT";
        return false;
      }
      listen = site["listen"].asString();
    }
    if (!maxClients && site.isMember("maxClients")) {
      const Json::Value& v = site["maxClients"];
      if (!v.isIntegral() || v.asLargestInt() < 1 || v.asLargestInt() > kMaxClientsLimit) {
        *error = "the site's \"http\".\"maxClients\" must be a whole number from 1 to " +
                 std::to_string(kMaxClientsLimit);
        return false;
      }
      maxClients = static_cast<unsigned>(v.asLargestInt());
    }
  }
  *enabled = listen.has_value();
  if (!listen) return true;
  if (!parse_listen(*listen, &out->address, &out->port)) {
    *error = (given.listen ? "--http" : "the site's \"http\".\"listen\"") + std::string(": \"") + *listen +
             "\" is not ADDR:PORT";
    return false;
  }
  if (maxClients) out->maxClients = *maxClients;
  return true;
}

}  // namespace web
