#include "web_wiring.h"

#include <cmath>

#include "block_time.h"
#include "publication/signal_catalogue.h"
#include "publication/signal_value.h"
#include "render.h"

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

web::HistoryQuery web_history(hist::HistoryStore& history) {
  return [&history](std::uint32_t dataId, const std::string& from, const std::string& to, const std::string& step,
                    int* status) {
    Json::Value r;
    std::optional<readings::BlockTime> first, last;
    if (!from.empty() && !(first = readings::parse_time_text(from))) {
      *status = 400;
      r["error"] = "from: not a time: " + from;
      return r;
    }
    if (!to.empty() && !(last = readings::parse_time_text(to))) {
      *status = 400;
      r["error"] = "to: not a time: " + to;
      return r;
    }
    if (step != "raw") {
      *status = 404;
      r["error"] = "here the history serves its rounds only; meter-history reads its 1m and 1h tiers";
      return r;
    }
    r["dataId"] = dataId;
    r["step"] = step;
    r["rows"] = Json::Value(Json::arrayValue);
    std::string error;
    const bool read = history.for_each_record(dataId, [&](const hist::Record& rec) {
      if (rec.block.size() < kvrm::kBlockSize) return true;
      const readings::BlockTime t = readings::block_time(rec.block.data());
      if ((first && t.key() < first->key()) || (last && t.key() > last->key())) return true;
      Json::Value row;
      row["time"] = readings::iso_text(t);
      for (const kvrm::SignalRow& s : kvrm::kSignalCatalogue) {
        if (s.decoding == kvrm::Decoding::Time) continue;
        const double v = kvrm::signal_value(rec.block.data(), s);
        row["values"][s.name] = std::isfinite(v) ? Json::Value(v) : Json::Value();
      }
      r["rows"].append(row);
      return true;
    }, &error);
    if (!read) {
      *status = 500;
      r = Json::Value();
      r["error"] = error;
    }
    return r;
  };
}

}  // namespace meter_host
