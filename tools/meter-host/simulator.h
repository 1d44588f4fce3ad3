#pragma once
// The simulated meters: meter-sim started on a pseudo-terminal for the
// slaves of the line, when no port is given or --simulate asks for it.
#include <string>

#include "host_options.h"
#include "line_settings.h"
#include "posix_io.h"
#include "session.h"

namespace meter_host {

// Starts meter-sim if the options ask for it (or name no port) and points
// the line at the path it serves.
bool start_simulator_if_wanted(const HostOptions& o, SessionSetup& setup, Log& log, posix_io::Process* sim,
                               std::string* error);

}  // namespace meter_host
