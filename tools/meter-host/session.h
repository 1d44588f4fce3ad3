#pragma once
// The meters on one line: the plug-in and one device per meter, their back
// ends, the serial line and its thread. Both meter-host and
// the line benchmarks drive rounds and commands through it; a meter is
// named by its index, in the order of the set-up.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "bench_backend.h"
#include "cycle_loop.h"
#include "commands.h"
#include "device_router.h"
#include "history_store.h"
#include "host/smd_controller.h"
#include "host_log.h"
#include "line_settings.h"
#include "line_stats.h"
#include "modbus_line.h"
#include "plugin.h"
#include "serial_worker.h"

namespace meter_host {

struct MeterSetup {
  unsigned slave = 1;
  std::uint32_t dataId = 1;
  Json::Value config{Json::objectValue};
};

struct SessionSetup {
  std::string pluginPath;
  // The single meter, when `meters` is empty: `line.slave`, these two.
  Json::Value config{Json::objectValue};
  std::uint32_t dataId = 1;
  std::vector<MeterSetup> meters;
  LineSettings line;  // baud 0: the speed the driver asks for
  // Read at start: the newest record of each meter and its alarm states.
  hist::HistoryStore* history = nullptr;
  // Where the back ends send alarm changes, from the first (a history
  // record loaded at start) on.
  SinkChain* sinks = nullptr;
  // Each round of a meter starts in a later second than its last completed
  // one, so that the driver, which stamps rounds to the second, publishes
  // and checks every round.
  bool publishEveryRound = false;
};

// "meter D (slave S)".
std::string meter_name(std::uint32_t dataId, unsigned slave);

struct IoctlOutcome {
  int result = 0;
  int outLenRet = 0;
  std::vector<unsigned char> output;
};

class Session : public RoundSource {
public:
  explicit Session(Log& log) : log_(log) {}
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads and configures the devices, opens the line, loads the newest
  // history record of each and starts the serial thread.
  bool start(const SessionSetup& setup, std::string* error);
  const LineSettings& line() const { return settings_; }

  std::size_t meters() const override;
  // False for a meter a reload removed: it takes no more rounds.
  bool active(std::size_t meter) const override;
  // Applies the meters of a reloaded site between two rounds: new ones get
  // a driver and join the line, removed ones take no more rounds, changed
  // configurations go to their driver; the others keep everything. Nothing
  // changes when any configuration is refused (*error says why). The
  // changes, one line each.
  std::optional<std::vector<std::string>> reload(const std::vector<MeterSetup>& wanted, hist::HistoryStore* history,
                                                 SinkChain* sinks, std::string* error);
  MeterInfo meter_info(std::size_t meter) const override;
  std::uint32_t data_id(std::size_t meter) const { return at(meter).dataId; }
  unsigned slave(std::size_t meter) const { return at(meter).slave; }
  // "meter D (slave S)".
  std::string name(std::size_t meter) const;
  std::optional<std::size_t> find(std::uint32_t dataId) const;

  RoundEnd run_round(unsigned round, std::chrono::milliseconds timeout, std::string* why,
                     std::size_t meter = 0) override;
  std::optional<bool> wait_line(Clock::time_point until) override;
  bool take_block(std::size_t meter, std::vector<unsigned char>* block, std::time_t* time) override;

  // The text that command 801 hands out, exactly.
  std::optional<std::string> snapshot(std::string* error, std::size_t meter = 0) override;
  // Writes and waits for the reply; the outcome the driver then reports.
  int write(const WriteCommand& cmd, std::size_t meter = 0);
  // The last write outcome, read through a code the driver leaves alone.
  int outcome(std::size_t meter = 0);
  IoctlOutcome ioctl(int code, const std::string& input, std::size_t meter = 0);

  BusStats& stats() { return stats_; }
  // The alarms in force on one meter, for the table view.
  std::vector<AlarmEvent> alarms_in_force(std::size_t meter = 0) override {
    return at(meter).backend->alarms_in_force();
  }
  // An offline meter's failed requests are not logged again and again.
  void set_quiet(std::size_t meter, bool quiet) { worker_->set_quiet(at(meter).station, quiet); }
  // Ends every wait for a round or a reply.
  void interrupt();
  void stop();

private:
  struct Meter {
    std::uint32_t dataId = 1;
    unsigned slave = 1;
    SPModbus* device = nullptr;
    std::mutex deviceMutex;
    std::unique_ptr<BenchBackend> backend;
    std::size_t station = 0;
    // The second of the last round the driver published (a history record
    // loaded, or with publishEveryRound a completed round): the next round
    // starts after it.
    std::optional<std::time_t> heldSecond;
    Json::Value config;
    bool retired = false;  // removed by a reload
  };
  Meter& at(std::size_t meter) const;
  // Why a configuration would be refused, tried on a driver of its own.
  std::string check_config(const MeterSetup& setup);

  bool add_meter(const MeterSetup& setup, bool labelled, hist::HistoryStore* history, SinkChain* sinks,
                 std::string* error);
  IoctlOutcome call(Meter& m, int code, const void* in, int inLen, std::size_t capacity);
  void load_cache(Meter& m, hist::HistoryStore& history);

  Log& log_;
  Plugin plugin_;
  DeviceRouter router_;
  // Meters are added by a reload while commands run: the list is locked,
  // the meters themselves stay where they are.
  mutable std::mutex metersMutex_;
  std::vector<std::unique_ptr<Meter>> meters_;
  BusStats stats_;
  ModbusLine line_;
  std::unique_ptr<SerialWorker> worker_;
  LineSettings settings_;
  bool publishEveryRound_ = false;
  std::shared_ptr<SMDController> controller_ = std::make_shared<SMDController>("meter-host");
};

}  // namespace meter_host
