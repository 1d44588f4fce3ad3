// meter-host: the bench host. Loads the plug-in, drives a Modbus RTU line
// (a real meter, or meter-sim on a pseudo-terminal) and shows what the
// plug-in publishes.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "command_line.h"
#include "commissioning.h"
#include "check_config_command.h"
#include "command_runner.h"
#include "host_log.h"
#include "host_options.h"
#include "line_settings.h"
#include "line_timing.h"
#include "plugin.h"
#include "point_file_hint.h"
#include "posix_io.h"
#include "session.h"
#include "site.h"
#include "turns.h"
#include "table_view.h"

namespace {

using meter_host::Clock;

// SIGINT and SIGTERM (stop) and SIGUSR1 (statistics), taken by a thread of
// their own; the others keep them blocked.
class SignalThread {
public:
  SignalThread(meter_host::Stopper& stopper, std::function<void()> onStats)
      : stopper_(stopper), onStats_(std::move(onStats)) {}
  ~SignalThread() { stop(); }
  void stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  static void block() {
    sigset_t set = signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
  }
  void start() {
    thread_ = std::thread([this] {
      const sigset_t set = signals();
      const timespec tick{0, 100 * 1000 * 1000};
      while (!done_) {
        const int sig = sigtimedwait(&set, nullptr, &tick);
        if (sig == SIGINT || sig == SIGTERM) stopper_.request();
        if (sig == SIGUSR1 && onStats_) onStats_();
      }
    });
  }

private:
  static sigset_t signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
  }
  meter_host::Stopper& stopper_;
  std::function<void()> onStats_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Starts meter-sim serving the slaves of the line and reads the path it
// serves.
bool start_simulator(const meter_host::HostOptions& o, const meter_host::LineSettings& line,
                     const std::string& slaves, posix_io::Process* sim, std::string* path, std::string* error) {
  std::vector<std::string> argv{o.simPath.empty() ? meter_host::default_sim_path() : o.simPath,
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

std::chrono::milliseconds round_timeout(const meter_host::HostOptions& o, const meter_host::LineSettings& line) {
  if (o.roundTimeoutMs) return std::chrono::milliseconds(*o.roundTimeoutMs);
  const auto wire = rtu_line::round_wire_time(line.baud, line.parity != 'N');
  return std::chrono::milliseconds(22LL * line.timeoutMs) +
         2 * std::chrono::duration_cast<std::chrono::milliseconds>(wire);
}

// Multi-line text as log lines, each with the log's prefix.
void log_lines(meter_host::Log& log, const std::string& text) {
  std::size_t from = 0;
  for (auto end = text.find('\n'); ; end = text.find('\n', from)) {
    log.line(text.substr(from, end == std::string::npos ? std::string::npos : end - from));
    if (end == std::string::npos) break;
    from = end + 1;
  }
}

struct Tally {
  unsigned cycles = 0;
  unsigned turns = 0;      // rounds started and ended, every meter together
  unsigned completed = 0;
  bool interrupted = false;
};

// The cycles: every meter that is due takes one round, in the order of the
// set-up; a round broken by a lost line is taken again once it is back.
Tally run_cycles(const meter_host::HostOptions& o, meter_host::Session& session, meter_host::CommandRunner& runner,
                 meter_host::LineSink& out, meter_host::Log& log, meter_host::Stopper& stopper,
                 Clock::duration offlineRetry, meter_host::TableView& table) {
  Tally t;
  const std::size_t n = session.meters();
  const bool several = n > 1;
  const auto timeout = round_timeout(o, session.line());
  meter_host::Turns turns(n, offlineRetry);
  std::vector<unsigned> rounds(n, 0);
  bool commandsRun = o.writes.empty() && o.ioctls.empty();
  auto label = [&](std::size_t m) { return several ? session.name(m) + ": " : std::string(); };

  for (unsigned cycle = 1; o.rounds == 0 || cycle <= o.rounds; ++cycle) {
    const auto cycleStart = Clock::now();
    // Every meter offline: the cycle begins when the first retry is due.
    if (stopper.requested() || stopper.wait_until(turns.next_due(cycleStart))) {
      t.interrupted = true;
      break;
    }
    for (std::size_t m = 0; m < n; ++m) {
      if (!turns.due(m, Clock::now())) continue;
      const unsigned round = rounds[m] + 1;
      std::string why;
      auto started = Clock::now();
      meter_host::RoundEnd end = session.run_round(round, timeout, &why, m);
      while (end == meter_host::RoundEnd::line_lost) {
        log.line(label(m) + "round " + std::to_string(round) + " not counted (" + why +
                 "): it starts again once the line is back");
        if (!session.wait_line()) {
          end = meter_host::RoundEnd::stopped;
          break;
        }
        started = Clock::now();
        end = session.run_round(round, timeout, &why, m);
      }
      if (end == meter_host::RoundEnd::stopped) {
        // Not a failure of the meter: neither counted nor stored.
        log.line(label(m) + "round " + std::to_string(round) + " stopped before it completed: not stored");
        t.interrupted = true;
        break;
      }
      rounds[m] = round;
      ++t.turns;
      const auto now = Clock::now();
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
      const bool completed = end == meter_host::RoundEnd::completed;
      session.stats().round(m, completed, took);
      if (completed) {
        ++t.completed;
        log.line(label(m) + "round " + std::to_string(round) + " completed in " + std::to_string(took.count()) + " ms");
        if (o.snapshot || o.showTable) {
          std::string error;
          if (auto text = session.snapshot(&error, m)) {
            if (o.snapshot) out.line(meter_host::snapshot_line(session, m, *text));
            if (o.showTable)
              table.show(session.data_id(m), round, took.count(), *text, session.alarms_in_force(m));
          } else {
            log.line(label(m) + error);
          }
        }
        if (!commandsRun && m == 0) {
          commandsRun = true;
          for (const auto& w : o.writes) {
            meter_host::Command c;
            c.kind = meter_host::CommandKind::write;
            c.write = w;
            runner.run(c);
          }
          for (const auto& io : o.ioctls) {
            meter_host::Command c;
            c.kind = meter_host::CommandKind::ioctl;
            c.ioctl = io;
            runner.run(c);
          }
        }
      } else {
        log.line(label(m) + "round " + std::to_string(round) + " abandoned: " +
                 (end == meter_host::RoundEnd::timed_out ? "not complete within " + std::to_string(timeout.count()) + " ms"
                                                         : why));
      }
      switch (turns.record(m, completed, now)) {
        case meter_host::TurnChange::offline:
          session.stats().offline(m, true);
          log.line(session.name(m) + " offline");
          break;
        case meter_host::TurnChange::back_online:
          session.stats().offline(m, false);
          log.line(session.name(m) + " back online");
          break;
        case meter_host::TurnChange::none:
          break;
      }
    }
    if (t.interrupted) break;
    t.cycles = cycle;
    if (o.rounds != 0 && cycle == o.rounds) break;
    if (stopper.wait_until(cycleStart + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(o.interval)))) {
      t.interrupted = true;
      break;
    }
  }
  if (!commandsRun) log.line("the commands of the command line did not run: no round of the first meter completed");
  return t;
}

// The meters of the line from the command line or the site file, each
// with its configuration.
bool meter_setups(const meter_host::HostOptions& o, const meter_host::Site& site, const Json::Value& config,
                  std::vector<meter_host::MeterSetup>* out, std::string* error) {
  const auto& wanted = o.meters.empty() ? site.meters : o.meters;
  for (const meter_host::MeterSpec& want : wanted) {
    meter_host::MeterSetup m;
    m.slave = want.slave;
    m.dataId = want.dataId.value_or(want.slave);
    m.config = config;
    if (!want.config.empty() && !meter_host::read_config(want.config, &m.config, error)) return false;
    out->push_back(m);
  }
  return true;
}

int run(int argc, char** argv, meter_host::LineSink& out, bool outIsTerminal) {
  const meter_host::HostParse parsed =
      meter_host::parse_host_options(std::vector<std::string>(argv + 1, argv + argc));
  meter_host::Log log(STDERR_FILENO, parsed.options.verbose);
  if (!parsed.error.empty()) {
    log.line(parsed.error + " (meter-host --help lists the options)");
    return cli::kBadUsage;
  }
  if (!parsed.text.empty()) {
    out.line(parsed.text);
    return cli::kDone;
  }
  const meter_host::HostOptions& o = parsed.options;
  if (!o.checkConfig.empty()) return meter_host::check_config_command(o.checkConfig, o.dataId, out, log);

  meter_host::Site site;
  meter_host::SessionSetup setup;
  std::string error;
  if ((!o.site.empty() && !meter_host::read_site(o.site, &site, &error)) ||
      !meter_host::read_config(o.config, &setup.config, &error) ||
      !meter_host::resolve_line_settings(o, setup.config, 0, &setup.line, &error, site.line) ||
      !meter_setups(o, site, setup.config, &setup.meters, &error)) {
    log.line(error);
    return cli::kBadUsage;
  }
  setup.pluginPath = o.plugin.empty() ? meter_host::default_plugin_path() : o.plugin;
  setup.dataId = o.dataId;
  setup.historyPath = o.history;
  setup.publishEveryRound = o.publishEveryRound;
  const double retry = o.offlineRetry.value_or(site.offlineRetry.value_or(30.0));

  SignalThread::block();
  posix_io::Process sim;
  if (o.simulate || setup.line.port.empty()) {
    if (!o.simulate) log.line("no port given: simulating the meters (--port DEVICE for a real line)");
    std::string slaves;
    for (const auto& m : setup.meters) slaves += (slaves.empty() ? "" : ",") + std::to_string(m.slave);
    if (slaves.empty()) slaves = std::to_string(setup.line.slave);
    if (!start_simulator(o, setup.line, slaves, &sim, &setup.line.port, &error)) {
      log.line(error);
      return cli::kFailure;
    }
  }

  meter_host::Session session(log);
  meter_host::Stopper stopper([&session, &log] {
    log.line("stopping: the exchange in flight ends first");
    session.interrupt();
  });
  if (!session.start(setup, &error)) {
    log.line(error);
    return cli::kFailure;
  }
  std::error_code cwdError;
  const auto cwd = std::filesystem::current_path(cwdError);
  if (setup.meters.empty()) {
    if (auto hint = readings::point_file_hint(setup.config, setup.dataId, cwd)) log.line(*hint);
  } else {
    for (const auto& m : setup.meters)
      if (auto hint = readings::point_file_hint(m.config, m.dataId, cwd)) log.line(*hint);
  }
  // A signal that came during the start is pending, and taken now.
  SignalThread signals(stopper, [&] { log_lines(log, session.stats().text()); });
  signals.start();
  meter_host::CommandRunner runner(session, out, log, stopper);
  meter_host::CommandThread commands(STDIN_FILENO, runner, log);
  commands.start();

  meter_host::TableView table(out, outIsTerminal);
  const Tally t = run_cycles(o, session, runner, out, log, stopper,
                             std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(retry)), table);
  signals.stop();
  commands.stop();
  session.stop();
  log_lines(log, session.stats().text());

  if (session.history_failures() > 0) return cli::kFailure;
  if (t.completed < t.turns) return cli::kFailure;
  if (o.rounds != 0 && t.cycles < o.rounds) return cli::kFailure;
  return cli::kDone;
}

}  // namespace

int main(int argc, char** argv) {
  // Commissioning sub-commands: options and output of their own.
  if (argc > 1 && (std::string(argv[1]) == "scan" || std::string(argv[1]) == "check-wiring")) {
    const std::vector<std::string> args(argv + 2, argv + argc);
    return std::string(argv[1]) == "scan" ? commissioning::scan_command(args, std::cout, std::cerr, isatty(STDERR_FILENO))
                                          : commissioning::check_wiring_command(args, std::cout, std::cerr);
  }
  // Standard output carries only what scripts read. The driver writes its
  // diagnostics to standard output: they join the log on standard error.
  const int outFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  meter_host::LineSink out(outFd >= 0 ? outFd : STDERR_FILENO);
  return run(argc, argv, out, outFd >= 0 && isatty(outFd));
}
