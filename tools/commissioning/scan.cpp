#include "scan.h"

#include <algorithm>
#include <cstdio>

#include <json/writer.h>

#include "command_line.h"
#include "line_timing.h"

namespace commissioning {

namespace {

// A meter on a 50 or 60 Hz grid; anything else that sends register 409
// is some other device.
constexpr double kLowestFrequency = 45.0, kHighestFrequency = 65.0;

}  // namespace

std::optional<std::vector<unsigned>> parse_slaves(const std::string& text, std::string* error) {
  std::vector<unsigned> out;
  std::size_t from = 0;
  for (;;) {
    const auto comma = text.find(',', from);
    const std::string item = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    const auto dash = item.find('-');
    const auto first = cli::parse_integer(item.substr(0, dash), 1, 247);
    const auto last = dash == std::string::npos ? first : cli::parse_integer(item.substr(dash + 1), 1, 247);
    if (!first || !last || *last < *first) {
      *error = "expected addresses from 1 to 247 as A-B or A, separated by commas, got \"" + text + "\"";
      return std::nullopt;
    }
    for (long long s = *first; s <= *last; ++s)
      if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(static_cast<unsigned>(s));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return out;
}

std::string describe(const Combination& c) { return std::to_string(c.baud) + " 8" + c.parity + "1"; }

std::vector<Combination> combinations(const std::vector<unsigned>& bauds, const std::vector<char>& parities) {
  std::vector<Combination> out;
  for (unsigned b : bauds)
    for (char p : parities) out.push_back(Combination{b, p});
  return out;
}

bool plausible_frequency(double hz) { return hz >= kLowestFrequency && hz <= kHighestFrequency; }

std::string found_line(const Found& f) {
  const std::string head = "slave " + std::to_string(f.slave) + " at " + describe(f.at) + ": ";
  return f.kvrm ? head + "KVRM4410T" : head + "answers, not a KVRM4410T (" + f.why + ")";
}

std::string garbled_line(unsigned slave, const std::vector<Combination>& where) {
  std::string list;
  for (const Combination& c : where) list += (list.empty() ? "" : ", ") + describe(c);
  return "address " + std::to_string(slave) + ": " + std::to_string(where.size()) +
         (where.size() == 1 ? " reply" : " replies") + " with a bad CRC (" + list +
         "): two slaves at one address, or the line's speed is another";
}

Json::Value site_file(const std::string& port, const std::vector<Found>& found) {
  std::optional<Combination> best;
  std::size_t most = 0;
  for (const Found& f : found) {
    if (!f.kvrm) continue;
    const std::size_t n = static_cast<std::size_t>(std::count_if(found.begin(), found.end(), [&f](const Found& g) {
      return g.kvrm && g.at.baud == f.at.baud && g.at.parity == f.at.parity;
    }));
    if (n > most) most = n, best = f.at;
  }
  if (!best) return Json::Value();
  Json::Value site(Json::objectValue);
  site["line"]["port"] = port;
  site["line"]["baud"] = static_cast<Json::Int>(best->baud);
  site["line"]["parity"] = std::string(1, best->parity);
  Json::Value& meters = site["meters"] = Json::Value(Json::arrayValue);
  for (const Found& f : found) {
    if (!f.kvrm || f.at.baud != best->baud || f.at.parity != best->parity) continue;
    Json::Value m(Json::objectValue);
    m["slave"] = static_cast<Json::Int>(f.slave);
    meters.append(m);
  }
  return site;
}

std::string site_text(const Json::Value& site) {
  const Json::Value& line = site["line"];
  std::string text = "{\n  \"line\": {\"port\": " + Json::valueToQuotedString(line["port"].asCString()) +
                     ", \"baud\": " + std::to_string(line["baud"].asUInt()) + ", \"parity\": \"" +
                     line["parity"].asString() + "\"},\n  \"meters\": [";
  const Json::Value& meters = site["meters"];
  for (Json::ArrayIndex i = 0; i < meters.size(); ++i)
    text += std::string(i ? "," : "") + "\n    {\"slave\": " + std::to_string(meters[i]["slave"].asUInt()) + "}";
  return text + "\n  ]\n}\n";
}

std::chrono::nanoseconds sweep_limit(std::size_t addresses, const Combination& c, std::chrono::milliseconds timeout) {
  // A read request: address, function, start, count, CRC.
  constexpr std::size_t kRequestBytes = 8;
  const auto one = rtu_line::wire_time(kRequestBytes, c.baud, c.parity != 'N') + timeout;
  return one * static_cast<long long>(addresses);
}

std::string duration_text(std::chrono::seconds s) {
  const long long n = s.count();
  if (n >= 3600) return std::to_string(n / 3600) + " h " + std::to_string(n % 3600 / 60) + " min";
  if (n >= 60) return std::to_string(n / 60) + " min " + std::to_string(n % 60) + " s";
  return std::to_string(n) + " s";
}

std::string progress_text(const Progress& p, std::size_t width) {
  const double whole = static_cast<double>(p.combination * p.addresses + p.address) /
                       static_cast<double>(std::max<std::size_t>(1, p.combinations * p.addresses));
  const std::size_t filled = std::min(width, static_cast<std::size_t>(whole * static_cast<double>(width) + 0.5));
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " + describe(p.at) + " (" +
         std::to_string(p.combination + 1) + "/" + std::to_string(p.combinations) + ") · address " +
         std::to_string(p.slave) + " (" + std::to_string(p.address + 1) + "/" + std::to_string(p.addresses) +
         ") · found " + std::to_string(p.found) + " · " + duration_text(p.left) + " left";
}

}  // namespace commissioning
