#pragma once
// Runs of meter-history and meter-host --check-config for the tests: the
// program to its end, its two output streams collected.
#include <string>
#include <vector>

#include "posix_io.h"
#include "support/runs.h"

namespace history_test {

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

inline Ran run_program(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  posix_io::SpawnOptions o;
  o.pipeStdout = o.pipeStderr = true;
  std::string error;
  posix_io::Process p = posix_io::Process::spawn(argv, o, &error);
  Ran r;
  if (!p.running()) {
    r.err = error;
    return r;
  }
  tools_test::Collector out(p.stdout_fd());
  tools_test::Collector err(p.stderr_fd());
  out.wait_end(tools_test::kRunTimeout);
  err.wait_end(tools_test::kRunTimeout);
  const auto status = p.wait(tools_test::kRunTimeout);
  r.status = status ? *status : p.terminate();
  r.out = out.text();
  r.err = err.text();
  return r;
}

inline Ran history(const std::vector<std::string>& args) { return run_program(METER_HISTORY_PROGRAM, args); }
inline Ran host(const std::vector<std::string>& args) { return run_program(METER_HOST_PROGRAM, args); }

inline std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (true) {
    const auto end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

inline std::vector<std::string> lines_of(const std::string& text) {
  auto lines = split(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

}  // namespace history_test
