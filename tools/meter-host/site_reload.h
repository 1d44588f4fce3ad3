#pragma once
// SIGHUP: the site file and every meter's configuration read again and
// applied between two rounds, without a restart. A site that does not load
// is refused with one line and the running set-up goes on.
#include <string>

#include <json/value.h>

#include "history_store.h"
#include "host_log.h"
#include "host_options.h"
#include "session.h"
#include "sink_chain.h"

namespace notify {
class NotifySink;
}  // namespace notify

namespace meter_host {

class SiteReload {
public:
  // `started` is the site file as the run started with it.
  SiteReload(const HostOptions& o, Session& session, hist::HistoryStore* history, SinkChain& sinks, Log& log,
             notify::NotifySink* notifier, Json::Value started = {})
      : o_(o), session_(session), history_(history), sinks_(sinks), log_(log), notifier_(notifier),
        started_(std::move(started)) {}
  // True when the meters changed.
  bool operator()();

private:
  // The meters the files name now, and the site file; false with the reason.
  bool read(std::vector<MeterSetup>* meters, Json::Value* site, std::string* error) const;
  void refused(const std::string& why);

  const HostOptions& o_;
  Session& session_;
  hist::HistoryStore* history_;
  SinkChain& sinks_;
  Log& log_;
  notify::NotifySink* notifier_;
  Json::Value started_;
};

}  // namespace meter_host
