#include "route.h"

#include "page.h"
#include "render.h"

namespace web {

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";

Answer json_answer(int status, const Json::Value& v) { return Answer{status, kJson, json_text(v) + "\n"}; }

Answer error_answer(int status, const std::string& why) {
  Json::Value v;
  v["error"] = why;
  return json_answer(status, v);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding is the one piece of URL handling needed here, written
// out rather than taking a URL library for it.
std::optional<std::string> percent_decoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int hi = hex_digit(text[i + 1]), lo = hex_digit(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A data id in a path: decimal digits, at most 4294967295.
std::optional<std::uint32_t> data_id(const std::string& text) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const unsigned long long v = std::stoull(text);
  if (v > 4294967295ULL) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

Answer meter_route(const std::string& rest, const std::string& target, const SiteState& site,
                   const HistoryQuery& history) {
  const auto slash = rest.find('/');
  const auto id = data_id(rest.substr(0, slash));
  const MeterState* meter = id ? site.find(*id) : nullptr;
  if (!meter) return error_answer(404, "no meter has data id " + rest.substr(0, slash));
  if (slash == std::string::npos) return json_answer(200, meter_json(*meter));
  if (rest.substr(slash) != "/history") return error_answer(404, "no such route");
  const auto params = query_parameters(target);
  if (!params) return error_answer(400, "malformed query");
  for (const auto& [name, value] : *params)
    if (name != "from" && name != "to" && name != "step") return error_answer(400, "unknown parameter " + name);
  const auto get = [&](const char* name, const char* otherwise) {
    const auto it = params->find(name);
    return it == params->end() ? std::string(otherwise) : it->second;
  };
  const std::string step = get("step", "raw");
  if (step != "raw" && step != "1m" && step != "1h") return error_answer(400, "step is raw, 1m or 1h");
  if (!history) return error_answer(404, "this site keeps no history");
  int status = 200;
  const Json::Value answer = history(*id, get("from", ""), get("to", ""), step, &status);
  return json_answer(status, answer);
}

}  // namespace

std::string route_path(const std::string& target) { return target.substr(0, target.find('?')); }

std::optional<std::map<std::string, std::string>> query_parameters(const std::string& target) {
  std::map<std::string, std::string> out;
  const auto q = target.find('?');
  if (q == std::string::npos) return out;
  const std::string query = target.substr(q + 1);
  std::size_t from = 0;
  while (from <= query.size()) {
    const auto amp = query.find('&', from);
    const std::string pair = query.substr(from, amp == std::string::npos ? std::string::npos : amp - from);
    if (!pair.empty()) {
      const auto eq = pair.find('=');
      const auto name = percent_decoded(pair.substr(0, eq));
      const auto value = percent_decoded(eq == std::string::npos ? std::string() : pair.substr(eq + 1));
      if (!name || !value || name->empty() || out.count(*name)) return std::nullopt;
      out[*name] = *value;
    }
    if (amp == std::string::npos) break;
    from = amp + 1;
  }
  return out;
}

Answer route(const std::string& target, const SiteState& site, const std::string& version,
             const HistoryQuery& history) {
  const std::string path = route_path(target);
  if (path == "/") return Answer{200, "text/html; charset=utf-8", page_html(json_text(page_json(site, version)))};
  if (path == "/metrics") return Answer{200, "text/plain; version=0.0.4; charset=utf-8", metrics_text(site)};
  if (path == "/api/site") return json_answer(200, site_json(site, version));
  if (path == "/api/page") return json_answer(200, page_json(site, version));
  const std::string meters = "/api/meters/";
  if (path.compare(0, meters.size(), meters) == 0) return meter_route(path.substr(meters.size()), target, site, history);
  return error_answer(404, "no such route");
}

}  // namespace web
