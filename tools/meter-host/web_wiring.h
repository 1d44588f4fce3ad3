#pragma once
// What the web view takes from meter-host: the line's counters for its
// copy of the site, and the history behind /api/meters/<id>/history.
#include "history_store.h"
#include "http_server.h"
#include "line_stats.h"
#include "web_sink.h"

namespace meter_host {

web::WebSink::Health web_health(const BusStats& stats);
web::HistoryQuery web_history(hist::HistoryStore& history);

}  // namespace meter_host
