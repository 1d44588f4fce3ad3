#pragma once
// Command line of meter-host.
#include <optional>
#include <string>
#include <vector>

#include "commands.h"

namespace meter_host {

struct HostOptions {
  std::string plugin;  // empty: the plug-in built beside meter-host
  std::string config;  // empty: an empty object
  unsigned dataId = 1;

  // Line settings; unset ones come from the configuration, then defaults.
  std::optional<std::string> port;
  std::optional<unsigned> baud;
  std::optional<char> parity;
  std::optional<unsigned> slave;
  std::optional<unsigned> timeoutMs;

  unsigned rounds = 0;  // 0: until interrupted
  double interval = 1.0;
  std::optional<unsigned> roundTimeoutMs;
  std::string history;
  bool snapshot = false;
  bool showTable = false;   // --show table
  std::string checkConfig;  // --check-config FILE: check it and end
  std::vector<WriteCommand> writes;
  std::vector<IoctlCommand> ioctls;

  bool simulate = false;
  std::string simPath;                 // empty: meter-sim built beside meter-host
  std::vector<std::string> simArgs;    // passed through to meter-sim
  bool verbose = false;
  bool help = false;
};

struct HostParse {
  HostOptions options;
  std::string error;  // not empty: bad usage
};

HostParse parse_host_options(const std::vector<std::string>& args);
const char* host_usage();

}  // namespace meter_host
