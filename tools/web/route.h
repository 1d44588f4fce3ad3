#pragma once
// Which answer a request target gets: pure, from a copy of the site.
#include <map>
#include <string>

#include "http_server.h"
#include "site_state.h"

namespace web {

struct Answer {
  int status = 200;
  std::string contentType;
  std::string body;
  bool allow = false;  // names the methods allowed (405)
  bool head = false;   // a HEAD request: the headers only
};

// The path of a target, without its query.
std::string route_path(const std::string& target);
// The query's parameters, percent-decoded ('+' is a space); nothing when
// the query is malformed.
std::optional<std::map<std::string, std::string>> query_parameters(const std::string& target);

// The answer to a GET of `target` (the events excepted).
Answer route(const std::string& target, const SiteState& site, const std::string& version,
             const HistoryQuery& history);

}  // namespace web
