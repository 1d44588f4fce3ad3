// meter-host: the bench host. Loads the plug-in, drives a Modbus RTU line
// (a real meter, or meter-sim on a pseudo-terminal) and shows what the
// plug-in publishes.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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
#include "table_view.h"

namespace {

using meter_host::Clock;
constexpr int kBadUsage = 2;
constexpr int kFailure = 1;

// SIGINT and SIGTERM, taken by a thread of their own; the others keep
// them blocked.
class SignalThread {
public:
  explicit SignalThread(meter_host::Stopper& stopper) : stopper_(stopper) {}
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
      }
    });
  }

private:
  static sigset_t signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
  }
  meter_host::Stopper& stopper_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Starts meter-sim and reads the path it serves.
bool start_simulator(const meter_host::HostOptions& o, const meter_host::LineSettings& line, posix_io::Process* sim,
                     std::string* path, std::string* error) {
  std::vector<std::string> argv{o.simPath.empty() ? meter_host::default_sim_path() : o.simPath,
                                "--slave",
                                std::to_string(line.slave),
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

struct Tally {
  unsigned completed = 0;
  unsigned failed = 0;
  bool interrupted = false;
};

Tally run_rounds(const meter_host::HostOptions& o, meter_host::Session& session, meter_host::CommandRunner& runner,
                 meter_host::LineSink& out, meter_host::Log& log, meter_host::Stopper& stopper,
                 meter_host::TableView& table) {
  Tally t;
  const auto timeout = round_timeout(o, session.line());
  bool commandsRun = o.writes.empty() && o.ioctls.empty();
  for (unsigned round = 1; o.rounds == 0 || round <= o.rounds; ++round) {
    if (stopper.requested()) {
      t.interrupted = true;
      break;
    }
    const auto started = Clock::now();
    std::string why;
    const meter_host::RoundEnd end = session.run_round(round, timeout, &why);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    if (end == meter_host::RoundEnd::stopped) {
      t.interrupted = true;
      break;
    }
    if (end == meter_host::RoundEnd::completed) {
      ++t.completed;
      log.line("round " + std::to_string(round) + " completed in " + std::to_string(ms) + " ms");
      if (o.snapshot || o.showTable) {
        std::string error;
        if (auto text = session.snapshot(&error)) {
          if (o.snapshot) out.line(*text);
          if (o.showTable) table.show(o.dataId, round, ms, *text, session.alarms_in_force());
        } else {
          log.line(error);
        }
      }
      if (!commandsRun) {
        commandsRun = true;
        for (const auto& w : o.writes) runner.run(meter_host::Command{meter_host::CommandKind::write, w, {}, {}});
        for (const auto& c : o.ioctls) runner.run(meter_host::Command{meter_host::CommandKind::ioctl, {}, c, {}});
      }
    } else {
      ++t.failed;
      log.line("round " + std::to_string(round) + " abandoned: " +
               (end == meter_host::RoundEnd::timed_out ? "not complete within " + std::to_string(timeout.count()) + " ms"
                                                       : why));
    }
    if (o.rounds != 0 && round == o.rounds) break;
    if (stopper.wait_until(started + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(o.interval)))) {
      t.interrupted = true;
      break;
    }
  }
  if (!commandsRun) log.line("the commands of the command line did not run: no round completed");
  return t;
}

int run(int argc, char** argv, meter_host::LineSink& out, bool outIsTerminal) {
  const meter_host::HostParse parsed =
      meter_host::parse_host_options(std::vector<std::string>(argv + 1, argv + argc));
  meter_host::Log log(STDERR_FILENO, parsed.options.verbose);
  if (!parsed.error.empty()) {
    log.line(parsed.error + " (meter-host --help lists the options)");
    return kBadUsage;
  }
  const meter_host::HostOptions& o = parsed.options;
  if (o.help) {
    out.line(meter_host::host_usage());
    return 0;
  }
  if (!o.checkConfig.empty()) return meter_host::check_config_command(o.checkConfig, o.dataId, out, log);

  meter_host::SessionSetup setup;
  std::string error;
  if (!meter_host::read_config(o.config, &setup.config, &error) ||
      !meter_host::resolve_line_settings(o, setup.config, 0, &setup.line, &error)) {
    log.line(error);
    return kBadUsage;
  }
  setup.pluginPath = o.plugin.empty() ? meter_host::default_plugin_path() : o.plugin;
  setup.dataId = o.dataId;
  setup.historyPath = o.history;

  SignalThread::block();
  posix_io::Process sim;
  if (o.simulate || setup.line.port.empty()) {
    if (!o.simulate) log.line("no port given: simulating the meter (--port DEVICE for a real one)");
    if (!start_simulator(o, setup.line, &sim, &setup.line.port, &error)) {
      log.line(error);
      return kFailure;
    }
  }

  meter_host::Session session(log);
  meter_host::Stopper stopper([&session] { session.interrupt(); });
  if (!session.start(setup, &error)) {
    log.line(error);
    return kFailure;
  }
  std::error_code cwdError;
  if (auto hint = readings::point_file_hint(setup.config, setup.dataId, std::filesystem::current_path(cwdError)))
    log.line(*hint);
  // A signal that came during the start is pending, and taken now.
  SignalThread signals(stopper);
  signals.start();
  meter_host::CommandRunner runner(session, out, log, stopper);
  meter_host::CommandThread commands(STDIN_FILENO, runner, log);
  commands.start();

  meter_host::TableView table(out, outIsTerminal);
  const Tally t = run_rounds(o, session, runner, out, log, stopper, table);
  signals.stop();
  commands.stop();
  session.stop();

  if (session.history_failures() > 0) return kFailure;
  if (t.failed > 0) return kFailure;
  if (o.rounds != 0 && t.completed < o.rounds) return kFailure;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Standard output carries only what scripts read. The driver writes its
  // diagnostics to standard output: they join the log on standard error.
  const int outFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  meter_host::LineSink out(outFd >= 0 ? outFd : STDERR_FILENO);
  return run(argc, argv, out, outFd >= 0 && isatty(outFd));
}
