#include "output_sinks.h"

#include "command_runner.h"

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

}  // namespace meter_host
