#pragma once
// The web view's settings: --http ADDR:PORT and --http-max-clients N, or
// the site file's "http": {"listen": "ADDR:PORT", "maxClients": N}; the
// command line wins. Off unless an address is given.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include <json/value.h>

#include "cli_fwd.h"


namespace web {

struct ServerOptions {
  std::string address = "127.0.0.1";
  unsigned short port = 0;  // 0: any free port
  unsigned maxClients = 16;
  std::size_t headerLimit = 8 * 1024;
  // A connection that sends no request, or reads no answer, this long is closed.
  std::chrono::milliseconds idle = std::chrono::seconds(30);
  std::string version;
};

// "HOST:PORT", or "PORT" (then 127.0.0.1); a port of 0 takes any free one,
// which the log names. False when it is neither.
bool parse_listen(const std::string& text, std::string* address, unsigned short* port);

struct HttpOptions {
  std::optional<std::string> listen;
  std::optional<unsigned> maxClients;
};

void add_http_options(CLI::App& app, HttpOptions& o, const std::string& group);

// The server's settings from the options and the site's "http" member
// (null when absent); false with the reason when they do not hold.
// `enabled` is false when neither names an address.
bool resolve_http(const HttpOptions& given, const Json::Value& site, ServerOptions* out, bool* enabled,
                  std::string* error);

}  // namespace web
