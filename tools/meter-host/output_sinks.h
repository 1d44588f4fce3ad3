#pragma once
// What meter-host shows of a round: the statistics it counts, the snapshot
// lines and the table on standard output, and the commands of the command
// line, run once the first meter's first round has completed.
#include <vector>

#include "cli_fwd.h"
#include "commands.h"
#include "host_log.h"
#include "line_stats.h"
#include "round_sink.h"
#include "table_view.h"

namespace meter_host {

struct HostOptions;
// --snapshot and --show table.
void add_output_options(CLI::App& app, HostOptions& o, const std::string& group);
// --write and --ioctl.
void add_command_options(CLI::App& app, HostOptions& o, const std::string& group);

class CommandRunner;

class StatsSink : public RoundSink {
public:
  explicit StatsSink(BusStats& stats) : stats_(stats) {}
  const char* sink_name() const override { return "statistics"; }
  void round_completed(const CompletedRound& r) override { stats_.round(r.meter.index, true, r.took); }
  void round_abandoned(const AbandonedRound& r) override {
    if (!r.stopped) stats_.round(r.meter.index, false, r.took);
  }
  void availability_changed(const Availability& a) override { stats_.offline(a.meter.index, !a.online); }

private:
  BusStats& stats_;
};

// --snapshot and --show table.
class RoundOutputSink : public RoundSink {
public:
  RoundOutputSink(LineSink& out, Log& log, bool snapshot, bool table, bool terminal, bool several)
      : out_(out), log_(log), snapshot_(snapshot), table_(table), several_(several), view_(out, terminal) {}
  const char* sink_name() const override { return "output"; }
  void round_completed(const CompletedRound& r) override;

private:
  LineSink& out_;
  Log& log_;
  bool snapshot_;
  bool table_;
  bool several_;
  TableView view_;
};

// The --write and --ioctl commands, in the order given.
std::vector<Command> startup_commands(const std::vector<WriteCommand>& writes, const std::vector<IoctlCommand>& ioctls);

class StartupCommands : public RoundSink {
public:
  StartupCommands(CommandRunner& runner, Log& log, std::vector<Command> commands)
      : runner_(runner), log_(log), commands_(std::move(commands)) {}
  const char* sink_name() const override { return "commands"; }
  void round_completed(const CompletedRound& r) override;
  void stopped(const RunEnd&) override;

private:
  CommandRunner& runner_;
  Log& log_;
  std::vector<Command> commands_;
  bool run_ = false;
};

}  // namespace meter_host
