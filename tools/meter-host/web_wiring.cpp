#include "web_wiring.h"

#include <cmath>
#include <tuple>

#include "block_time.h"
#include "publication/signal_catalogue.h"
#include "publication/signal_value.h"
#include "render.h"
#include "tier.h"

namespace meter_host {

web::WebSink::Health web_health(const BusStats& stats) {
  return [&stats](web::SiteState& site) {
    const std::string text = stats.text();
    site.line = text.substr(0, text.find('\n'));
    const std::vector<MeterStats> meters = stats.meters();
    for (web::MeterState& shown : site.meters) {
      if (shown.info.index >= meters.size()) continue;
      const MeterStats& m = meters[shown.info.index];
      web::MeterHealth& h = shown.health;
      h.roundsCompleted = m.roundsCompleted;
      h.roundsAbandoned = m.roundsAbandoned;
      h.requests = m.requests;
      h.timeouts = m.timeouts;
      h.crcErrors = m.crcErrors;
      h.wrongReplies = m.wrongReplies;
      h.exceptions = 0;
      for (const auto& [code, n] : m.exceptions) h.exceptions += n;
      h.lastRoundMs = m.lastRound.count();
    }
  };
}

namespace {

// The numeric members in catalogue order, as the tiers keep them.
std::vector<const char*> numeric_members() {
  std::vector<const char*> names;
  for (const kvrm::SignalRow& s : kvrm::kSignalCatalogue)
    if (s.decoding != kvrm::Decoding::Time) names.push_back(s.name);
  return names;
}

Json::Value number(double v) { return std::isfinite(v) ? Json::Value(v) : Json::Value(); }

}  // namespace

web::HistoryQuery web_history(hist::HistoryStore& history) {
  return [&history](std::uint32_t dataId, const std::string& from, const std::string& to, const std::string& step,
                    int* status) {
    Json::Value r;
    // The bounds as local times, compared as such: no mktime on this
    // thread, whose time-zone reset races the other threads' local times.
    std::optional<std::int64_t> first, last;
    for (const auto& [text, bound, name] : {std::tuple{&from, &first, "from"}, std::tuple{&to, &last, "to"}}) {
      if (text->empty()) continue;
      const auto t = readings::parse_time_text(*text);
      if (!t) {
        *status = 400;
        r["error"] = std::string(name) + ": not a time: " + *text;
        return r;
      }
      *bound = t->key();
    }
    auto local_key = [](std::int64_t epoch) {
      const std::time_t t = static_cast<std::time_t>(epoch);
      std::tm tm{};
      localtime_r(&t, &tm);
      readings::BlockTime b{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
      return b.key();
    };
    auto within = [&](std::int64_t t) {
      const std::int64_t k = local_key(t);
      return (!first || k >= *first) && (!last || k <= *last);
    };
    r["dataId"] = dataId;
    r["step"] = step;
    r["rows"] = Json::Value(Json::arrayValue);
    std::string error;
    bool read = true;
    if (step == "raw") {
      read = history.for_each_record(dataId, [&](const hist::Record& rec) {
        if (rec.block.size() < kvrm::kBlockSize || !within(rec.time)) return true;
        Json::Value row;
        row["time"] = web::iso_local_time(static_cast<std::time_t>(rec.time));
        for (const kvrm::SignalRow& s : kvrm::kSignalCatalogue)
          if (s.decoding != kvrm::Decoding::Time) row["values"][s.name] = number(kvrm::signal_value(rec.block.data(), s));
        r["rows"].append(row);
        return true;
      }, &error);
    } else {
      std::size_t tier = 0;
      while (tier < hist::kTiers.size() && step != hist::kTiers[tier].step) ++tier;
      static const std::vector<const char*> names = numeric_members();
      read = tier < hist::kTiers.size() && history.for_each_tier_row(tier, dataId, [&](const hist::TierRow& t) {
        if (!within(t.stats.start)) return true;
        Json::Value row;
        row["time"] = web::iso_local_time(static_cast<std::time_t>(t.stats.start));
        row["rounds"] = t.stats.rounds;
        for (std::size_t k = 0; k < names.size() && k < t.stats.members.size(); ++k) {
          const hist::MemberStats& m = t.stats.members[k];
          Json::Value v;
          v["min"] = m.values ? number(m.min) : Json::Value();
          v["mean"] = number(m.mean());
          v["max"] = m.values ? number(m.max) : Json::Value();
          v["count"] = m.values;
          row["values"][names[k]] = v;
        }
        r["rows"].append(row);
        return true;
      }, &error);
    }
    if (!read) {
      *status = 500;
      r = Json::Value();
      r["error"] = error;
    }
    return r;
  };
}

}  // namespace meter_host
