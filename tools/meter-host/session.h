#pragma once
// One device on one line: the plug-in and its device, the back end, the
// history, the serial line and its thread. Both meter-host and the line
// benchmark drive rounds and commands through it.
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
#include "commands.h"
#include "history.h"
#include "host/smd_controller.h"
#include "host_log.h"
#include "line_settings.h"
#include "modbus_line.h"
#include "plugin.h"
#include "serial_worker.h"

namespace meter_host {

struct SessionSetup {
  std::string pluginPath;
  Json::Value config{Json::objectValue};
  std::uint32_t dataId = 1;
  LineSettings line;  // baud 0: the speed the driver asks for
  std::string historyPath;
};

struct IoctlOutcome {
  int result = 0;
  int outLenRet = 0;
  std::vector<unsigned char> output;
};

class Session {
public:
  explicit Session(Log& log) : log_(log) {}
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads and configures the device, opens the line, loads the newest
  // history record and starts the serial thread.
  bool start(const SessionSetup& setup, std::string* error);
  const LineSettings& line() const { return settings_; }

  RoundEnd run_round(unsigned round, std::chrono::milliseconds timeout, std::string* why);

  // The text that command 801 hands out, exactly.
  std::optional<std::string> snapshot(std::string* error);
  // Writes and waits for the reply; the outcome the driver then reports.
  int write(const WriteCommand& cmd);
  // The last write outcome, read through a code the driver leaves alone.
  int outcome();
  IoctlOutcome ioctl(int code, const std::string& input);

  std::vector<AlarmEvent> alarms_in_force() { return backend_ ? backend_->alarms_in_force() : std::vector<AlarmEvent>{}; }
  unsigned history_failures() const { return backend_ ? backend_->history_failures() : 0; }
  // Ends every wait for a round or a reply.
  void interrupt();
  void stop();

private:
  IoctlOutcome call(int code, const void* in, int inLen, std::size_t capacity);
  void load_cache(std::uint32_t dataId);

  Log& log_;
  Plugin plugin_;
  SPModbus* device_ = nullptr;
  std::mutex deviceMutex_;
  History history_;
  std::unique_ptr<BenchBackend> backend_;
  ModbusLine line_;
  std::unique_ptr<SerialWorker> worker_;
  LineSettings settings_;
  std::shared_ptr<SMDController> controller_ = std::make_shared<SMDController>("meter-host");
  // The second in which a history record was loaded, if one was.
  std::optional<std::time_t> cacheSecond_;
};

}  // namespace meter_host
