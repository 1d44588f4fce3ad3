#include "simulator.h"

#include <chrono>
#include <vector>

#include "plugin.h"

namespace meter_host {

namespace {

// Starts meter-sim serving the slaves of the line and reads the path it
// serves.
bool start_simulator(const HostOptions& o, const LineSettings& line, const std::string& slaves,
                     posix_io::Process* sim, std::string* path, std::string* error) {
  std::vector<std::string> argv{o.simPath.empty() ? default_sim_path() : o.simPath,
                                "--slave",
                                slaves,
                                "--baud",
                                std::to_string(line.baud ? line.baud : 9600),
                                "--parity",
                                std::string(1, line.parity)};
  argv.insert(argv.end(), o.simArgs.begin(), o.simArgs.end());
  if (o.verbose) argv.push_back("--verbose");
  posix_io::SpawnOptions spawn;
  spawn.pipeStdout = true;
  *sim = posix_io::Process::spawn(argv, spawn, error);
  if (!sim->running()) return false;
  posix_io::LineReader reader(sim->stdout_fd());
  const auto first = reader.read_line(Clock::now() + std::chrono::seconds(10));
  if (!first || first->empty()) {
    *error = "meter-sim did not start";
    return false;
  }
  *path = *first;
  return true;
}

}  // namespace

bool start_simulator_if_wanted(const HostOptions& o, SessionSetup& setup, Log& log, posix_io::Process* sim,
                               std::string* error) {
  if (!o.simulate && !setup.line.port.empty()) return true;
  if (!o.simulate) log.line("no port given: simulating the meters (--port DEVICE for a real line)");
  std::string slaves;
  for (const auto& m : setup.meters) slaves += (slaves.empty() ? "" : ",") + std::to_string(m.slave);
  if (slaves.empty()) slaves = std::to_string(setup.line.slave);
  return start_simulator(o, setup.line, slaves, sim, &setup.line.port, error);
}

}  // namespace meter_host
