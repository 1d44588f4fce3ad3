#include "output_sinks.h"

#include "command_line.h"
#include "command_runner.h"
#include "host_options.h"

namespace meter_host {

void RoundOutputSink::round_completed(const CompletedRound& r) {
  if (!snapshot_ && !table_) return;
  std::string error;
  const std::string* text = r.snapshot(&error);
  if (!text) {
    log_.line((several_ ? r.meter.name + ": " : std::string()) + error);
    return;
  }
  if (snapshot_) out_.line(snapshot_line(several_, r.meter.dataId, *text));
  if (table_) view_.show(r.meter.dataId, r.round, r.took.count(), *text, r.alarmsInForce);
}

std::vector<Command> startup_commands(const std::vector<WriteCommand>& writes, const std::vector<IoctlCommand>& ioctls) {
  std::vector<Command> all;
  for (const auto& w : writes) {
    Command c;
    c.kind = CommandKind::write;
    c.write = w;
    all.push_back(c);
  }
  for (const auto& io : ioctls) {
    Command c;
    c.kind = CommandKind::ioctl;
    c.ioctl = io;
    all.push_back(c);
  }
  return all;
}

void StartupCommands::round_completed(const CompletedRound& r) {
  if (run_ || r.meter.index != 0) return;
  run_ = true;
  for (const Command& c : commands_) runner_.run(c);
}

void StartupCommands::stopped(const RunEnd&) {
  if (!run_ && !commands_.empty())
    log_.line("the commands of the command line did not run: no round of the first meter completed");
}

void add_output_options(CLI::App& app, HostOptions& o, const std::string& group) {
  app.add_flag("--snapshot", o.snapshot,
               "print the snapshot text (command 801) of every completed\nround on standard output, one line each")
      ->group(group);
  app.add_option_function<std::string>(
         "--show", [&o](const std::string&) { o.showTable = true; },
         "print every completed round as a table a person reads\n(redrawn in place on a terminal)")
      ->check(cli::one_of(std::vector<std::string>{"table"}))
      ->type_name("table")
      ->group(group);
}

void add_command_options(CLI::App& app, HostOptions& o, const std::string& group) {
  app.add_option_function<std::vector<std::string>>(
         "--write",
         [&o](const std::vector<std::string>& all) {
           for (const auto& t : all) {
             std::string why;
             o.writes.push_back(*parse_write_command(t, &why));
           }
         },
         "write one register (206) or a run (210), then print\n\"control result N\": 1 confirmed, 3 not confirmed,\n-1 no reply")
      ->check(CLI::Validator(
          [](std::string& t) {
            std::string why;
            return parse_write_command(t, &why) ? std::string() : why;
          },
          ""))
      ->type_name("ADDR=VALUE[,VALUE...]")
      ->group(group);
  app.add_option_function<std::vector<std::string>>(
         "--ioctl",
         [&o](const std::vector<std::string>& all) {
           for (const auto& t : all) {
             std::string why;
             o.ioctls.push_back(*parse_ioctl_command(t, &why));
           }
         },
         "any command code with TEXT as input")
      ->check(CLI::Validator(
          [](std::string& t) {
            std::string why;
            return parse_ioctl_command(t, &why) ? std::string() : why;
          },
          ""))
      ->type_name("CODE[=TEXT]")
      ->group(group);

}

}  // namespace meter_host
