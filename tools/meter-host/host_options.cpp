#include "host_options.h"

#include "command_line.h"
#include "cycle_loop.h"
#include "line_settings.h"
#include "output_sinks.h"
#include "simulator.h"

namespace meter_host {

std::optional<MeterSpec> parse_meter_spec(const std::string& text, std::string* error) {
  const auto first = text.find(':');
  const auto second = first == std::string::npos ? std::string::npos : text.find(':', first + 1);
  MeterSpec m;
  const auto slave = cli::parse_integer(text.substr(0, first), 1, 247);
  if (!slave) {
    *error = "expected SLAVE[:DATAID[:CONFIG]] with a slave address from 1 to 247, got \"" + text + "\"";
    return std::nullopt;
  }
  m.slave = static_cast<unsigned>(*slave);
  if (first != std::string::npos) {
    const std::string id = text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (!id.empty()) {
      const auto v = cli::parse_integer(id, 0, 4294967295LL);
      if (!v) {
        *error = "data id \"" + id + "\" is not a whole number from 0 to 4294967295";
        return std::nullopt;
      }
      m.dataId = static_cast<std::uint32_t>(*v);
    }
  }
  if (second != std::string::npos) m.config = text.substr(second + 1);
  return m;
}

namespace {

const char* kDescription =
    "The bench host: loads the KVRM4410T plug-in, drives a Modbus RTU line with\n"
    "libmodbus, runs polling rounds of one or several meters and shows what the\n"
    "plug-in publishes.";

const char* kFooter =
    "Line settings not given here come from the site file's \"line\" member, then\n"
    "from the configuration's \"hostSetting\" member (\"port\", \"baud\", \"parity\",\n"
    "\"slave\", \"timeoutMs\"), then from the defaults.\n"
    "\n"
    "Lines on standard input are commands too, taken while rounds run; with\n"
    "several meters \"@D \" in front names the meter of data id D (else the first):\n"
    "  snapshot | write ADDR=VALUE[,VALUE...] | result | ioctl CODE [TEXT] |\n"
    "  stats | help | quit\n"
    "SIGUSR1 prints the line statistics on standard error, as the end of a run does.\n"
    "\n"
    "Standard output carries only the snapshot lines and command answers (with\n"
    "several meters each snapshot line starts with the data id and a space); the\n"
    "plug-in's own diagnostic lines and the host's log go to standard error.\n"
    "Exit status: 0 when every meter completed every round of its turns (or, without\n"
    "--rounds, when asked to stop), 1 on a runtime failure or an incomplete round,\n"
    "2 on bad usage.";

}  // namespace

std::string duplicate_meter(const std::vector<MeterSpec>& meters) {
  for (std::size_t i = 0; i < meters.size(); ++i)
    for (std::size_t k = 0; k < i; ++k) {
      if (meters[i].slave == meters[k].slave)
        return "slave " + std::to_string(meters[i].slave) + " named twice: one meter per address";
      const auto a = meters[i].dataId.value_or(meters[i].slave), b = meters[k].dataId.value_or(meters[k].slave);
      if (a == b) return "data id " + std::to_string(a) + " named twice: each meter needs its own";
    }
  return {};
}

HostParse parse_host_options(const std::vector<std::string>& args) {
  HostParse r;
  HostOptions& o = r.options;
  CLI::App app(kDescription, "meter-host");
  app.footer(kFooter);
  cli::set_up(app, "meter-host", 34);

  const std::string device = "Plug-in and device";
  app.add_option("--plugin", o.plugin, "plug-in to load (default: the one built beside meter-host)")
      ->type_name("PATH")
      ->group(device);
  app.add_option("--config", o.config, "the devices' JSON configuration (default: {})")->type_name("FILE")->group(device);
  auto* dataId = cli::add_whole(app, "--data-id", [&o](long long v) { o.dataId = static_cast<unsigned>(v); }, 0,
                                4294967295LL, "the single meter's data id (default 1)")
                     ->group(device);
  std::vector<std::string> meters;
  auto* meter = app.add_option("--meter", meters,
                               "a meter on the line, repeatable: data id defaults to the slave\n"
                               "address, the configuration to --config")
                    ->type_name("SLAVE[:DATAID[:CONFIG]]")
                    ->check(CLI::Validator(
                        [](std::string& text) {
                          std::string why;
                          return parse_meter_spec(text, &why) ? std::string() : why;
                        },
                        ""))
                    ->group(device);
  auto* site = app.add_option("--site", o.site, "site file (JSON): \"line\" settings and \"meters\"")
                   ->type_name("FILE")
                   ->group(device);

  const std::string line = "Serial line";
  const auto [port, slave] = add_line_options(app, o, line);
  const std::string rounds = "Rounds";
  add_cycle_options(app, o, rounds);
  hist::add_history_flags(app, o.history, "History");
  add_output_options(app, o, rounds);
  web::add_http_options(app, o.http, "Web view");
  telemetry::add_telemetry_flags(app, o.mqtt, "Telemetry (MQTT)");
  auto* checkConfig =
      app.add_option("--check-config", o.checkConfig,
                     "check a configuration and the point file that mode 1\nwould read for --data-id (with --site and no FILE:\n"
                     "the site and every meter's configuration); one line\nper finding, exit 0 when clean, 1 with findings")
          ->expected(0, 1)
          ->type_name("[FILE]")
          ->group(device);

  const std::string commands = "Commands (run after the first completed round, in the order given)";
  add_command_options(app, o, commands);
  const std::string sim = "Simulated meters (the default when no port is given)";
  SimOptions simValues;
  add_sim_options(app, o, simValues, port, sim);
  app.add_flag("--verbose", o.verbose, "log every frame and host service call");

  meter->excludes(slave)->excludes(dataId)->excludes(site);

  const cli::Outcome parsed = cli::parse(app, args);
  if (!parsed.proceed) {
    (parsed.status == cli::kDone ? r.text : r.error) = parsed.text;
    return r;
  }
  if (checkConfig->count() > 0 && o.checkConfig.empty()) {
    if (o.site.empty()) {
      r.error = "--check-config needs a FILE, or --site";
      return r;
    }
    o.checkSite = true;
  }
  for (const std::string& text : meters) {
    std::string why;
    o.meters.push_back(*parse_meter_spec(text, &why));
  }
  if (const std::string why = duplicate_meter(o.meters); !why.empty()) r.error = "--meter: " + why;
  finish_sim_options(simValues, o);
  return r;
}

}  // namespace meter_host
