#pragma once
// The embedded HTTP server: the live page, its events, the JSON API and
// the Prometheus metrics, read-only, on one thread of its own. Answers
// come from the web sink's copy of the site; a slow or hostile client can
// only hold its own connection, never a round.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <json/value.h>

#include "web_options.h"
#include "web_sink.h"

namespace web {


// A history request: the data id, from, to and step as given. Sets
// `status` (200, 400, 404) and the answer.
using HistoryQuery = std::function<Json::Value(std::uint32_t dataId, const std::string& from,
                                               const std::string& to, const std::string& step, int* status)>;

class HttpServer {
public:
  HttpServer(ServerOptions options, WebSink& sink, HistoryQuery history = {});
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and starts serving; false with the reason when the address
  // cannot be had.
  bool start(std::string* error);
  unsigned short port() const;
  // Connections open now.
  unsigned connections() const;
  // The version of the site's copy that the events carried last.
  std::uint64_t event_version() const;
  void stop();

  struct Impl;

private:
  std::unique_ptr<Impl> impl_;
};


}  // namespace web
