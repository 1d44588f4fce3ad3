#include "simulator.h"

#include <chrono>
#include <vector>

#include "command_line.h"
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

void add_sim_options(CLI::App& app, HostOptions& o, SimOptions& sim, CLI::Option* port, const std::string& group) {
  auto* simulate = app.add_flag("--simulate", o.simulate, "start meter-sim on a pseudo-terminal and use it")
                       ->group(group);
  app.add_option("--sim", o.simPath, "meter-sim to start (default: the one built beside)")
      ->type_name("PATH")
      ->group(group);
  // Passed to meter-sim as given; it checks them.
  std::vector<CLI::Option*> simOptions{
      app.add_option("--registers", sim.registers, "register image (JSON: register number to value);\nS=FILE for slave S only")
          ->type_name("[S=]FILE"),
      app.add_option("--fault", sim.faults,
                     "fault: no-reply, bad-crc, exception, wrong-echo,\nslow, hold; KIND@S for slave S only")
          ->type_name("KIND[@S]"),
      app.add_option("--fault-after", sim.faultAfter, "requests answered before the fault starts")
          ->check(cli::whole(0, 1000000000))
          ->type_name("N"),
      app.add_option("--fault-count", sim.faultCount, "requests that suffer the fault (0: all)")
          ->check(cli::whole(0, 1000000000))
          ->type_name("N"),
      app.add_option("--slow-ms", sim.slowMs, "delay of its slow replies")->check(cli::whole(0, 600000))->type_name("N"),
      app.add_option("--exception-code", sim.exceptionCode, "code of its exception replies")
          ->check(cli::whole(1, 255))
          ->type_name("N"),
      app.add_flag("--line-speed", sim.lineSpeed, "it takes as long as a real line at the baud rate")};
  for (CLI::Option* opt : simOptions) opt->group(group)->excludes(port);
  simulate->excludes(port);

}

void finish_sim_options(const SimOptions& sim, HostOptions& o) {
  for (const auto& f : sim.registers) o.simArgs.insert(o.simArgs.end(), {"--registers", f});
  for (const auto& f : sim.faults) o.simArgs.insert(o.simArgs.end(), {"--fault", f});
  const std::pair<const char*, const std::string*> values[] = {{"--fault-after", &sim.faultAfter},
                                                               {"--fault-count", &sim.faultCount},
                                                               {"--slow-ms", &sim.slowMs},
                                                               {"--exception-code", &sim.exceptionCode}};
  for (const auto& [name, value] : values)
    if (!value->empty()) o.simArgs.insert(o.simArgs.end(), {name, *value});
  if (sim.lineSpeed) o.simArgs.push_back("--line-speed");
}

}  // namespace meter_host
