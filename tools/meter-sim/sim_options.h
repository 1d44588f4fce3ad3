#pragma once
// Command line of meter-sim.
#include <map>
#include <string>
#include <vector>

#include "slave.h"

namespace meter_sim {

// What one simulated slave serves.
struct SlaveSetup {
  unsigned address = 1;
  std::string registers;  // image file; empty: its own live image
  FaultPlan faults;
  Wiring wiring;  // of its live image
};

struct SimOptions {
  std::string port;  // empty: a new pseudo-terminal
  std::vector<unsigned> slaves{1};
  unsigned baud = 9600;
  char parity = 'N';
  std::string registers;                             // every slave's image
  std::map<unsigned, std::string> slaveRegisters;    // one slave's image
  FaultPlan faults;                                  // the fault of every slave
  std::map<unsigned, Fault> slaveFaults;             // one slave's fault
  Wiring wiring;                                     // every slave's wiring
  std::map<unsigned, Wiring> slaveWiring;            // one slave's wiring
  bool lineSpeed = false;
  // A master at another speed hears a reply that fails the CRC instead of
  // none, as some adapters make of a mismatch.
  bool garbleBaud = false;
  bool verbose = false;

  // Each slave's set-up, in the order of --slave.
  std::vector<SlaveSetup> setups() const;
};

struct SimParse {
  SimOptions options;
  std::string error;  // not empty: bad usage
  std::string text;   // not empty: --help or --version, print it and end
};

SimParse parse_sim_options(const std::vector<std::string>& args);

}  // namespace meter_sim
