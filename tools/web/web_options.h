#pragma once
// The web view's settings: --http ADDR:PORT and --http-max-clients N, or
// the site file's "http": {"listen": "ADDR:PORT", "maxClients": N}; the
// command line wins. Off unless an address is given.
#include <optional>
#include <string>

#include <json/value.h>

#include "http_server.h"

namespace CLI {
class App;
}  // namespace CLI

namespace web {

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
