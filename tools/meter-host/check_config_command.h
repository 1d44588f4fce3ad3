#pragma once
// meter-host --check-config: reads a configuration and the point file that
// point-file mode would pick, and prints one line per finding. Nothing is
// loaded onto a line.
#include <cstdint>
#include <string>

#include "host_log.h"
#include "host_options.h"

namespace meter_host {

// Exit status: 0 no findings, 1 findings, 2 the file cannot be read.
int check_config_command(const std::string& path, std::uint32_t dataId, LineSink& out, Log& log);
// --site FILE --check-config: the site's line, its meters (no address or
// data id twice), each meter's configuration as above, its web settings.
int check_site_command(const HostOptions& o, LineSink& out, Log& log);

}  // namespace meter_host
