#pragma once
// Command line of meter-sim.
#include <string>
#include <vector>

#include "slave.h"

namespace meter_sim {

struct SimOptions {
  std::string port;  // empty: a new pseudo-terminal
  unsigned slave = 1;
  unsigned baud = 9600;
  char parity = 'N';
  std::string registers;  // image file; empty: the live default image
  FaultPlan faults;
  bool lineSpeed = false;
  bool verbose = false;
  bool help = false;
};

struct SimParse {
  SimOptions options;
  std::string error;  // not empty: bad usage
};

SimParse parse_sim_options(const std::vector<std::string>& args);
const char* sim_usage();

}  // namespace meter_sim
