#pragma once
// meter-host's commissioning sub-commands: `meter-host scan ...` finds the
// meters on a line, `meter-host check-wiring ...` judges one meter's
// wiring. Each takes the arguments after its name and returns the exit
// status: 0 done (a device found, every check passed), 1 not so, 2 bad
// usage.
#include <iosfwd>
#include <string>
#include <vector>

namespace commissioning {

// `out` gets the results, `err` the messages and the progress, which is a
// bar redrawn in place when `errIsTerminal`.
int scan_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal);
int check_wiring_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace commissioning
