// bench_soak: meter-host against meter-sim for many rounds, with commands
// on standard input now and then, as a person at a bench would type them.
// It reports the rounds completed and abandoned, meter-host's resident
// memory along the way, and the history rows against the completed rounds.
// The run ends with "quit", so the stop is part of what is checked.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "history_store.h"
#include "posix_io.h"

namespace {

using Clock = std::chrono::steady_clock;

// A round that neither ends nor logs anything this long is a hang.
constexpr auto kSilence = std::chrono::seconds(60);

struct SoakOptions {
  unsigned rounds = 2000;
  unsigned commandEvery = 25;
  std::string host = SOAK_METER_HOST;
  std::string config = SOAK_CONFIG;
};

// The commands injected, in turn: every kind that reaches the driver.
const char* const kCommands[] = {"snapshot", "write 300=1,2", "result", "ioctl 801", "write 301=7", "stats",
                                 "ioctl 310 {\"signal_id\":\"x\"}"};

// meter-host's resident memory in kB, from /proc.
std::optional<long> resident_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return std::nullopt;
}

// "(slave 1): rounds X completed, Y abandoned" of the statistics at exit.
std::optional<std::pair<long, long>> stats_rounds(const std::string& line) {
  static const std::regex rounds(R"(\(slave 1\).*: rounds (\d+) completed, (\d+) abandoned)");
  std::smatch m;
  if (!std::regex_search(line, m, rounds)) return std::nullopt;
  return std::make_pair(std::stol(m[1]), std::stol(m[2]));
}

struct Tally {
  unsigned completed = 0;  // "round N completed" lines
  unsigned abandoned = 0;  // "round N abandoned" lines
  std::optional<std::pair<long, long>> stats;
  unsigned ended() const { return completed + abandoned; }
};

void count(const std::string& line, Tally& t) {
  if (line.find(": round ") == std::string::npos) {
    if (auto s = stats_rounds(line)) t.stats = s;
    return;
  }
  if (line.find(" completed in ") != std::string::npos) ++t.completed;
  if (line.find(" abandoned: ") != std::string::npos) ++t.abandoned;
}

int soak(const SoakOptions& o) {
  char pattern[] = "/tmp/bench-soak-XXXXXX";
  const std::filesystem::path dir = ::mkdtemp(pattern);
  const std::string db = (dir / "soak.db").string();
  posix_io::SpawnOptions spawn;
  spawn.pipeStdin = spawn.pipeStdout = spawn.pipeStderr = true;
  std::string error;
  posix_io::Process host = posix_io::Process::spawn(
      {o.host, "--simulate", "--config", o.config, "--rounds", "0", "--interval", "0", "--history", db}, spawn, &error);
  if (!host.running()) {
    std::fprintf(stderr, "bench_soak: %s\n", error.c_str());
    return cli::kFailure;
  }
  // The answers to the commands, drained on a thread of their own.
  std::atomic<unsigned> answers{0};
  std::thread drain([&] {
    posix_io::LineReader out(host.stdout_fd());
    while (auto line = out.read_line(Clock::now() + std::chrono::hours(24))) ++answers;
  });

  std::printf("meter-host against meter-sim, %u rounds, a command every %u rounds, %s\n", o.rounds, o.commandEvery,
              o.config.c_str());
  std::printf("%8s %10s %10s %10s\n", "rounds", "completed", "abandoned", "VmRSS kB");
  posix_io::LineReader err(host.stderr_fd());
  Tally t;
  std::optional<long> startRss, endRss;
  std::size_t nextCommand = 0;
  const auto started = Clock::now();
  bool hung = false;
  while (t.ended() < o.rounds) {
    const unsigned before = t.ended();
    const auto line = err.read_line(Clock::now() + kSilence);
    if (!line) {
      hung = !err.eof();
      break;
    }
    count(*line, t);
    if (t.ended() == before) continue;
    if (t.ended() == 1) startRss = resident_kb(host.pid());
    if (t.ended() % (o.rounds >= 10 ? o.rounds / 10 : 1) == 0 || t.ended() == 1)
      std::printf("%8u %10u %10u %10ld\n", t.ended(), t.completed, t.abandoned, resident_kb(host.pid()).value_or(-1));
    if (o.commandEvery > 0 && t.ended() % o.commandEvery == 0) {
      const std::string command = std::string(kCommands[nextCommand++ % std::size(kCommands)]) + "\n";
      posix_io::write_all(host.stdin_fd(), command.data(), command.size());
    }
  }
  const std::chrono::duration<double> took = Clock::now() - started;
  endRss = resident_kb(host.pid());
  posix_io::write_all(host.stdin_fd(), "quit\n", 5);
  // The round in flight, if any, and the statistics at exit.
  while (auto line = err.read_line(Clock::now() + kSilence)) count(*line, t);
  const auto status = host.wait(std::chrono::duration_cast<std::chrono::milliseconds>(kSilence));
  if (!status) host.terminate();
  drain.join();

  hist::HistoryStore history;
  std::size_t rows = 0;
  if (history.open(db, &error)) rows = history.records(1, &error).size();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);

  std::printf("%u rounds ended in %.1f s (%.1f per second), %u command answers\n", t.ended(), took.count(),
              t.ended() / took.count(), answers.load());
  std::printf("rounds completed %u, abandoned %u (log); statistics at exit: %ld completed, %ld abandoned\n",
              t.completed, t.abandoned, t.stats ? t.stats->first : -1L, t.stats ? t.stats->second : -1L);
  std::printf("VmRSS of meter-host: %ld kB after round 1, %ld kB at the end\n", startRss.value_or(-1),
              endRss.value_or(-1));
  const bool exact = t.stats && rows == t.completed && t.stats->first == static_cast<long>(t.completed);
  std::printf("history rows %zu, completed rounds %u: %s\n", rows, t.completed, exact ? "equal" : "DIFFERENT");
  std::printf("meter-host exit status %d%s\n", status.value_or(-1), hung ? " (it fell silent: killed)" : "");
  if (!error.empty()) std::fprintf(stderr, "bench_soak: %s\n", error.c_str());
  return exact && !hung && status ? cli::kDone : cli::kFailure;
}

}  // namespace

int main(int argc, char** argv) {
  SoakOptions o;
  CLI::App app("meter-host against meter-sim (no line speed) for many rounds, with commands on its\n"
               "standard input; reports rounds, resident memory and history rows.",
               "bench_soak");
  cli::set_up(app, "bench_soak", 30);
  cli::add_whole(app, "--rounds", [&o](long long v) { o.rounds = static_cast<unsigned>(v); }, 1, 100000000,
                 "rounds to run (default 2000)");
  cli::add_whole(app, "--command-every", [&o](long long v) { o.commandEvery = static_cast<unsigned>(v); }, 0,
                 100000000, "rounds between two commands, 0: none (default 25)");
  app.add_option("--meter-host", o.host, "the meter-host to run (default: the one built)")->type_name("PATH");
  app.add_option("--config", o.config, "its configuration (default: samples/mode5.json)")->type_name("FILE");
  const cli::Outcome parsed = cli::parse(app, std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.proceed) {
    std::fprintf(parsed.status == cli::kDone ? stdout : stderr, "%s\n", parsed.text.c_str());
    return parsed.status;
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the progress as it comes
  return soak(o);
}
