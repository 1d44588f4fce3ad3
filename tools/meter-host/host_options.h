#pragma once
// Command line of meter-host.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "history_options.h"
#include "telemetry_options.h"
#include "web_options.h"

namespace meter_host {

// One meter on the line: "SLAVE[:DATAID[:CONFIG]]".
struct MeterSpec {
  unsigned slave = 1;
  std::optional<std::uint32_t> dataId;  // unset: the slave address
  std::string config;                   // empty: --config
};
std::optional<MeterSpec> parse_meter_spec(const std::string& text, std::string* error);
// Why a list of meters cannot share one line (an address or a data id
// twice), or nothing.
std::string duplicate_meter(const std::vector<MeterSpec>& meters);

struct HostOptions {
  std::string plugin;  // empty: the plug-in built beside meter-host
  std::string config;  // empty: an empty object
  unsigned dataId = 1;
  std::vector<MeterSpec> meters;  // empty: one meter, --slave and --data-id
  std::string site;               // site file: line settings and meters

  // Line settings; unset ones come from the site file, the configuration,
  // then defaults.
  std::optional<std::string> port;
  std::optional<unsigned> baud;
  std::optional<char> parity;
  std::optional<unsigned> slave;
  std::optional<unsigned> timeoutMs;
  bool rs485 = false;
  std::optional<std::string> rts;  // "up" or "down"

  unsigned rounds = 0;  // cycles, 0: until interrupted
  double interval = 1.0;
  bool publishEveryRound = false;
  std::optional<double> offlineRetry;  // unset: the site file's, else 30 s
  std::optional<unsigned> roundTimeoutMs;
  hist::HistoryFlags history;  // --history and how it is kept
  web::HttpOptions http;
  telemetry::TelemetryFlags mqtt;  // --mqtt and the outbox
  bool snapshot = false;
  bool showTable = false;   // --show table
  std::string checkConfig;  // --check-config FILE: check it and end
  bool checkSite = false;   // --site FILE --check-config: check the site and end
  std::vector<WriteCommand> writes;
  std::vector<IoctlCommand> ioctls;

  bool simulate = false;
  std::string simPath;               // empty: meter-sim built beside meter-host
  std::vector<std::string> simArgs;  // passed through to meter-sim
  bool verbose = false;
};

struct HostParse {
  HostOptions options;
  std::string error;  // not empty: bad usage
  std::string text;   // not empty: --help or --version, print it and end
};

HostParse parse_host_options(const std::vector<std::string>& args);

}  // namespace meter_host
