// meter-host: the bench host. Loads the plug-in, drives a Modbus RTU line
// (a real meter, or meter-sim on a pseudo-terminal) and shows what the
// plug-in publishes. This file only wires the parts: every output of a
// round is a sink, added to the chain below.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "check_config_command.h"
#include "command_line.h"
#include "command_runner.h"
#include "commissioning.h"
#include "cycle_loop.h"
#include "history_sink.h"
#include "history_store.h"
#include "host_options.h"
#include "line_settings.h"
#include "log_sink.h"
#include "notify_sink.h"
#include "output_sinks.h"
#include "point_file_hint.h"
#include "session.h"
#include "signal_thread.h"
#include "simulator.h"
#include "site.h"
#include "site_reload.h"
#include "telemetry_sink.h"
#include "web_wiring.h"

namespace {

using namespace meter_host;

void log_point_file_hints(const SessionSetup& setup, Log& log) {
  std::error_code cwdError;
  const auto cwd = std::filesystem::current_path(cwdError);
  if (setup.meters.empty()) {
    if (auto hint = readings::point_file_hint(setup.config, setup.dataId, cwd)) log.line(*hint);
  } else {
    for (const auto& m : setup.meters)
      if (auto hint = readings::point_file_hint(m.config, m.dataId, cwd)) log.line(*hint);
  }
}

int run(int argc, char** argv, LineSink& out, bool outIsTerminal) {
  const HostParse parsed = parse_host_options(std::vector<std::string>(argv + 1, argv + argc));
  Log log(STDERR_FILENO, parsed.options.verbose);
  if (!parsed.error.empty()) {
    log.line(parsed.error + " (meter-host --help lists the options)");
    return cli::kBadUsage;
  }
  if (!parsed.text.empty()) {
    out.line(parsed.text);
    return cli::kDone;
  }
  const HostOptions& o = parsed.options;
  if (!o.checkConfig.empty()) return check_config_command(o.checkConfig, o.dataId, out, log);
  if (o.checkSite) return check_site_command(o, out, log);

  Site site;
  SessionSetup setup;
  std::string error;
  if ((!o.site.empty() && !read_site(o.site, &site, &error)) || !read_config(o.config, &setup.config, &error) ||
      !resolve_line_settings(o, setup.config, 0, &setup.line, &error, site.line) ||
      !meter_setups(o, site, setup.config, &setup.meters, &error)) {
    log.error(error);
    return cli::kBadUsage;
  }
  hist::HistoryOptions historyOptions;
  if (site.json.isMember("history") && !hist::history_from_json(site.json["history"], &historyOptions, &error)) {
    log.error(o.site + ": " + error);
    return cli::kBadUsage;
  }
  historyOptions = hist::resolve_history_options(o.history, historyOptions);
  telemetry::TelemetryOptions mqtt;
  if (!telemetry::resolve_telemetry(o.mqtt, site.json["mqtt"], telemetry::host_name(), &mqtt, &error) ||
      (!mqtt.url.empty() && historyOptions.path.empty() && !(error = telemetry::kNeedsHistory).empty())) {
    log.error(error);
    return cli::kBadUsage;
  }
  web::ServerOptions webOptions;
  webOptions.version = KV_VERSION;
  bool webWanted = false;
  if (!web::resolve_http(o.http, site.json["http"], &webOptions, &webWanted, &error)) {
    log.line(error);
    return cli::kBadUsage;
  }
  setup.pluginPath = o.plugin.empty() ? default_plugin_path() : o.plugin;
  setup.dataId = o.dataId;
  setup.publishEveryRound = o.publishEveryRound;
  const bool several = setup.meters.size() > 1;

  SignalThread::block();
  posix_io::Process sim;
  if (!start_simulator_if_wanted(o, setup, log, &sim, &error)) {
    log.line(error);
    return cli::kFailure;
  }

  Session session(log);
  std::shared_ptr<notify::NotifySink> notifier;
  Stopper stopper([&session, &log, &notifier] {
    log.line("stopping: the exchange in flight ends first");
    if (notifier) notifier->stopping();
    session.interrupt();
  });
  // Opened before anything runs: a file it may not write ends the run
  // here, untouched.
  std::shared_ptr<hist::HistoryStore> history;
  if (!historyOptions.path.empty()) {
    history = std::make_shared<hist::HistoryStore>();
    if (!history->open(historyOptions.path, &error)) {
      log.error(error);
      return cli::kFailure;
    }
    setup.history = history.get();
  }
  CommandRunner runner(session, out, log, stopper);

  // The outputs of a round, in the order they see it.
  SinkChain sinks([&log](const std::string& line) { log.line(line); });
  sinks.add(std::make_shared<StatsSink>(session.stats()));
  sinks.add(std::make_shared<LogSink>(log, several, [&session](std::size_t m, bool quiet) { session.set_quiet(m, quiet); }));
  sinks.add(std::make_shared<RoundOutputSink>(out, log, o.snapshot, o.showTable, outIsTerminal, several));
  std::shared_ptr<hist::HistorySink> historySink;
  std::shared_ptr<telemetry::TelemetrySink> telemetrySink;
  if (history) {
    historySink = std::make_shared<hist::HistorySink>(history, historyOptions,
                                                      [&log](const std::string& line) { log.line(line); });
    // Before the history: at the stop the link ends first, and the
    // history's last commit deletes what the broker took until then.
    if (!mqtt.url.empty()) {
      sinks.add(telemetrySink = std::make_shared<telemetry::TelemetrySink>(
                    history, historySink, mqtt, [&log](const telemetry::LinkLogLine& l) {
                      l.warning ? log.warning(l.text) : log.line(l.text);
                    }));
      session.stats().add_line([sink = telemetrySink.get()] { return sink->stats_line(); });
    }
    sinks.add(historySink);
    session.stats().add_line([sink = historySink.get()] {
      return "history: " + std::to_string(sink->rounds_stored()) + " rounds stored, " +
             std::to_string(sink->rounds_not_stored()) + " not stored";
    });
  }
  sinks.add(std::make_shared<StartupCommands>(runner, log, startup_commands(o.writes, o.ioctls)));
  notify::NotifySinkOptions notifyOptions;
  notifyOptions.historyState = [&historySink, &telemetrySink] {
    std::string state = historySink ? historySink->state_text() : std::string();
    if (telemetrySink) state += (state.empty() ? "" : ", ") + telemetrySink->status_text();
    return state;
  };
  std::string notifyError;
  notifier = notify::make_notify_sink(std::move(notifyOptions), &notifyError);
  if (!notifyError.empty()) log.warning("no service notifications: " + notifyError);
  sinks.add(notifier);
  std::shared_ptr<web::WebSink> webSink;
  std::unique_ptr<web::HttpServer> webServer;
  if (webWanted) {
    sinks.add(webSink = std::make_shared<web::WebSink>(web_health(session.stats())));
    webServer = std::make_unique<web::HttpServer>(webOptions, *webSink,
                                                  history ? web_history(*history) : web::HistoryQuery());
    if (!webServer->start(&error)) {
      log.line(error);
      return cli::kFailure;
    }
    log.line("web view on http://" + webOptions.address + ":" + std::to_string(webServer->port()) + "/");
  }
  setup.sinks = &sinks;

  if (!session.start(setup, &error)) {
    log.line(error);
    return cli::kFailure;
  }
  log_point_file_hints(setup, log);
  // A signal that came during the start is pending, and taken now.
  SignalThread signals(stopper, [&] { log.lines(session.stats().text()); });
  signals.start();
  CommandThread commands(STDIN_FILENO, runner, log);
  commands.start();

  CycleSettings cycles;
  cycles.rounds = o.rounds;
  cycles.interval = o.interval;
  cycles.roundTimeout = round_timeout(o.roundTimeoutMs, session.line());
  cycles.offlineRetry = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(o.offlineRetry.value_or(site.offlineRetry.value_or(30.0))));
  cycles.reload = SiteReload(o, session, setup.history, sinks, log, notifier.get(), site.json);
  const RunEnd t = run_cycles(cycles, session, stopper, sinks);
  signals.stop();
  commands.stop();
  if (webServer) webServer->stop();
  session.stop();
  log.lines(session.stats().text());

  if (historySink && historySink->rounds_not_stored() > 0) return cli::kFailure;
  // A daemon asked to stop has done its work, whatever round was in flight.
  if (o.rounds == 0 && stopper.requested()) return cli::kDone;
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
  LineSink out(outFd >= 0 ? outFd : STDERR_FILENO);
  return run(argc, argv, out, outFd >= 0 && isatty(outFd));
}
