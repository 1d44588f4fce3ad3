#pragma once
// The host's serial settings, taken from the command line first, then from
// the configuration's "hostSetting" member, then from the defaults.
#include <string>

#include <json/value.h>

#include "cli_fwd.h"
#include "host_options.h"

namespace meter_host {

struct HostOptions;
// The options of the serial line, in `group` of the help; the two that
// other options exclude.
struct LineOptions {
  CLI::Option* port;
  CLI::Option* slave;
};
LineOptions add_line_options(CLI::App& app, HostOptions& o, const std::string& group);

struct LineSettings {
  std::string port;  // empty: none given
  unsigned baud = 0;  // 0: the speed the driver asks for
  char parity = 'N';
  unsigned slave = 1;
  unsigned timeoutMs = 1000;
  bool rs485 = false;  // the UART's own RS-485 mode
  char rts = 0;        // RTS direction control: 0 none, 'u' up, 'd' down
};

// The JSON configuration file; no path gives an empty object.
bool read_config(const std::string& path, Json::Value* config, std::string* error);

// `deviceBaud` is the speed the driver asks for (its serial speed member),
// or 0 to leave the choice to the session once the driver is loaded.
// `site` is the site file's "line" member (or null): settings of the same
// names as "hostSetting", which it overrides.
bool resolve_line_settings(const HostOptions& options, const Json::Value& config, unsigned deviceBaud,
                           LineSettings* out, std::string* error, const Json::Value& site = Json::Value());

}  // namespace meter_host
