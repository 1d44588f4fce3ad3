#include "bench_backend.h"

#include "alarms/float_text.h"
#include "host/sp_modbus.h"
#include "serial_worker.h"

namespace meter_host {

// Floats read as the driver's alarm texts write them.
using kvrm::float_text;

std::string threshold_line(const std::string& signalId, const std::string& name, float value, int flag) {
  return "threshold check: " + name + " = " + float_text(value) + " (signal id " + signalId + ", flag " +
         std::to_string(flag) + ")";
}

std::string threshold_bool_line(int level, const std::string& signalName, const std::string& alarmId,
                                const std::string& valueText, const std::string& alarmText, bool active) {
  std::string line = "threshold: " + signalName + " = " + valueText + " alarm " + alarmId + " level " +
                     std::to_string(level) + (active ? " IN ALARM" : " normal");
  if (!alarmText.empty()) line += ": " + alarmText;
  return line;
}

std::string ao_report_line(const std::string& signalId, float value) {
  return "analog report: signal id " + signalId + " = " + float_text(value);
}

BenchBackend::BenchBackend(Log& log, MeterInfo meter, std::string label)
    : log_(log), meter_(std::move(meter)), label_(std::move(label)) {}

void BenchBackend::attach(SerialWorker* worker, std::size_t station) {
  station_ = station;
  worker_ = worker;
}

void BenchBackend::set_alarm_states(std::map<std::string, bool> states) {
  std::lock_guard<std::mutex> lock(alarmsMutex_);
  alarmStates_ = std::move(states);
}

int BenchBackend::send_sp(SMDVDevice&, int dataId, const unsigned char*, unsigned length, bool) {
  log_.detail("published data id " + std::to_string(dataId) + ", " + std::to_string(length) + " bytes");
  return 0;
}

void BenchBackend::save_history(SMDVDevice&, const unsigned char* data, unsigned length) {
  if (loadingCache_) {
    log_.detail("the loaded history image is not stored again");
    return;
  }
  // Kept before the round is decided: the cycle loop takes it as soon as
  // the round counts. One given up before its last reply came is dropped.
  {
    std::lock_guard<std::mutex> lock(blockMutex_);
    block_.assign(data, data + length);
    blockFresh_ = true;
  }
  if (SerialWorker* w = worker_; w && !w->round_done(station_)) {
    log_.detail(label_ + "a round given up before it completed is not stored");
    std::lock_guard<std::mutex> lock(blockMutex_);
    blockFresh_ = false;
  }
}

bool BenchBackend::take_block(std::vector<unsigned char>* block) {
  std::lock_guard<std::mutex> lock(blockMutex_);
  if (!blockFresh_) return false;
  *block = block_;
  blockFresh_ = false;
  return true;
}

bool BenchBackend::check_threshold(SMDVDevice&, const std::string& signalId, const std::string& name, float value,
                                   int flag) {
  // The bench host keeps no threshold rules of its own: nothing is raised.
  log_.line(label_ + threshold_line(signalId, name, value, flag));
  return false;
}

bool BenchBackend::check_threshold_bool(SMDVDevice&, int level, const std::string& signalName,
                                        const std::string& alarmId, const std::string& valueText,
                                        const std::string& alarmText, bool active, unsigned short) {
  log_.line(label_ + threshold_bool_line(level, signalName, alarmId, valueText, alarmText, active));
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(alarmsMutex_);
    // An alarm never seen before counts as cleared.
    bool& state = alarmStates_[alarmId];
    changed = state != active;
    state = active;
    if (active)
      inForce_[alarmId] = AlarmEvent{meter_.dataId, alarmId, signalName, level, true, valueText, alarmText};
    else
      inForce_.erase(alarmId);
  }
  if (SinkChain* sinks = sinks_; changed && sinks)
    sinks->alarm_changed(AlarmChange{
        meter_, std::time(nullptr), AlarmEvent{meter_.dataId, alarmId, signalName, level, active, valueText, alarmText}});
  // An alarm in force is a rule for the round's batch check.
  return active;
}

std::vector<AlarmEvent> BenchBackend::alarms_in_force() {
  std::lock_guard<std::mutex> lock(alarmsMutex_);
  std::vector<AlarmEvent> events;
  for (const auto& entry : inForce_) events.push_back(entry.second);
  return events;
}

int BenchBackend::check_ao_report(SMDVDevice&, const std::string& signalId, float value) {
  log_.line(label_ + ao_report_line(signalId, value));
  return 1;
}

int BenchBackend::batch_check_threshold(SMDVDevice&, const std::vector<rule_value>& rules) {
  if (!rules.empty()) log_.line(label_ + "batch check: " + std::to_string(rules.size()) + " alarms in force");
  return rules.empty() ? 0 : 1;
}

int BenchBackend::device_io_control(SMDVDevice&, int code, const void*, int inLen, void*, int, int&) {
  log_.detail("host command handler: code " + std::to_string(code) + ", " + std::to_string(inLen) + " input bytes");
  return 0;
}

int BenchBackend::init_setting(SPModbus& dev, const Json::Value&) {
  // The host's Modbus settings: the address that request frames carry.
  dev.slaveAddress_ = static_cast<std::uint8_t>(meter_.slave);
  return 0;
}

void BenchBackend::refresh_status(SMDSPDevice&) {}
void BenchBackend::reset(SMDSPDevice&) { log_.detail("exchange ended"); }
int BenchBackend::open_port(SMDSPDevice&) { return 0; }
int BenchBackend::close_port(SMDSPDevice&) { return 0; }

int BenchBackend::send_data(SMDSPDevice&, const unsigned char* frame, unsigned length) {
  SerialWorker* w = worker_;
  if (!w) {
    log_.line("a request before the line is open is dropped");
    return -1;
  }
  w->queue_frame(station_, frame, length);
  return 0;
}

void BenchBackend::modbus_error(SPModbus&, const std::string& why) {
  if (SerialWorker* w = worker_)
    w->note_rejection(station_, why);
  else
    log_.line(label_ + "reply rejected: " + why);
}

}  // namespace meter_host
