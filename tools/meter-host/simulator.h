#pragma once
// The simulated meters: meter-sim started on a pseudo-terminal for the
// slaves of the line, when no port is given or --simulate asks for it.
#include <string>

#include <vector>

#include "command_line.h"
#include "host_options.h"
#include "line_settings.h"
#include "posix_io.h"
#include "session.h"

namespace meter_host {

// Options passed to meter-sim as given: it checks them.
struct SimOptions {
  std::vector<std::string> registers, faults;
  std::string faultAfter, faultCount, slowMs, exceptionCode;
  bool lineSpeed = false;
};
// --simulate, --sim and meter-sim's own options, which exclude --port.
void add_sim_options(CLI::App& app, HostOptions& o, SimOptions& sim, CLI::Option* port, const std::string& group);
// Passes the options given on to meter-sim's command line.
void finish_sim_options(const SimOptions& sim, HostOptions& o);

// Starts meter-sim if the options ask for it (or name no port) and points
// the line at the path it serves.
bool start_simulator_if_wanted(const HostOptions& o, SessionSetup& setup, Log& log, posix_io::Process* sim,
                               std::string* error);

}  // namespace meter_host
