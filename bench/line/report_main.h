#pragma once
// The main() of the line benchmarks. The plug-in writes its diagnostics to
// standard output; the report goes to the original standard output, the
// diagnostics to standard error.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <ext/stdio_filebuf.h>

#include <iostream>

inline int line_bench_main(int argc, char** argv) {
  const int report = dup(STDOUT_FILENO);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  __gnu_cxx::stdio_filebuf<char> buffer(report, std::ios::out);
  std::ostream out(&buffer);
  benchmark::Initialize(&argc, argv);
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  reporter.SetOutputStream(&out);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
