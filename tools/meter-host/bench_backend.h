#pragma once
// The bench host's back end: every host effect of the framework, made real.
// Request frames go to the serial thread, alarm service calls to readable
// log lines; the block of a completed round waits for the cycle loop to
// take it, and alarm state changes go to the sinks.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "round_sink.h"
#include "sink_chain.h"
#include "host/backend.h"
#include "host_log.h"

namespace meter_host {

class SerialWorker;

// Log lines of the alarm services; pure, for tests.
std::string threshold_line(const std::string& signalId, const std::string& name, float value, int flag);
std::string threshold_bool_line(int level, const std::string& signalName, const std::string& alarmId,
                                const std::string& valueText, const std::string& alarmText, bool active);
std::string ao_report_line(const std::string& signalId, float value);

class BenchBackend : public host::Backend {
public:
  // `label` starts its log lines: "meter D (slave S): " on a line with
  // several meters, nothing with one.
  BenchBackend(Log& log, MeterInfo meter, std::string label = {});

  // The serial thread and this meter's station on it.
  void attach(SerialWorker* worker, std::size_t station = 0);
  // Alarm states as the database last recorded them.
  void set_alarm_states(std::map<std::string, bool> states);
  // While a history image is loaded into the driver: its round completion
  // is not stored again.
  void set_loading_cache(bool loading) { loadingCache_ = loading; }
  // Where alarm changes go; none: nowhere.
  void set_sinks(SinkChain* sinks) { sinks_ = sinks; }
  // The block of the last round that counted, once.
  bool take_block(std::vector<unsigned char>* block);
  // The alarms the last threshold calls left raised, by alarm id.
  std::vector<AlarmEvent> alarms_in_force();

  int send_sp(SMDVDevice& dev, int dataId, const unsigned char* data, unsigned length, bool flag) override;
  void save_history(SMDVDevice& dev, const unsigned char* data, unsigned length) override;
  bool check_threshold(SMDVDevice& dev, const std::string& signalId, const std::string& name, float value,
                       int flag) override;
  bool check_threshold_bool(SMDVDevice& dev, int level, const std::string& signalName, const std::string& alarmId,
                            const std::string& valueText, const std::string& alarmText, bool active,
                            unsigned short flag) override;
  int check_ao_report(SMDVDevice& dev, const std::string& signalId, float value) override;
  int batch_check_threshold(SMDVDevice& dev, const std::vector<rule_value>& rules) override;
  int device_io_control(SMDVDevice& dev, int code, const void* in, int inLen, void* out, int outLen,
                        int& outLenRet) override;
  int init_setting(SPModbus& dev, const Json::Value& config) override;
  void refresh_status(SMDSPDevice& dev) override;
  void reset(SMDSPDevice& dev) override;
  int open_port(SMDSPDevice& dev) override;
  int close_port(SMDSPDevice& dev) override;
  int send_data(SMDSPDevice& dev, const unsigned char* frame, unsigned length) override;
  void modbus_error(SPModbus& dev, const std::string& why) override;

private:
  Log& log_;
  MeterInfo meter_;
  std::string label_;
  std::atomic<SerialWorker*> worker_{nullptr};
  std::atomic<std::size_t> station_{0};
  std::atomic<bool> loadingCache_{false};
  std::atomic<SinkChain*> sinks_{nullptr};
  std::mutex blockMutex_;
  std::vector<unsigned char> block_;
  bool blockFresh_ = false;
  std::mutex alarmsMutex_;
  std::map<std::string, bool> alarmStates_;
  std::map<std::string, AlarmEvent> inForce_;
};

}  // namespace meter_host
