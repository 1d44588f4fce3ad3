#pragma once
// A host back end that records every effect, in order, with its arguments
// and a copy of the bytes passed, for tests to read back.
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "host/backend.h"
#include "slave.h"

class SPModbus;

namespace host {

struct Call {
  std::string op;
  const void* device = nullptr;
  std::vector<long long> ints;
  std::vector<double> reals;
  std::vector<std::string> texts;
  std::vector<std::uint8_t> bytes;
};

class RecordingBackend : public Backend {
public:
  // Answers of the recorded services.
  bool thresholdAddsRule = true;
  int batchResult = 0;
  int ioControlResult = 0;
  int initSettingResult = 0;
  int aoReportResult = 1;
  int sendResult = 0;

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

  std::vector<Call> calls() const;
  std::vector<Call> calls(const std::string& op) const;
  std::vector<std::string> ops() const;
  std::size_t count(const std::string& op) const;
  void clear();

  // Request frames sent and not yet taken, oldest first.
  bool has_frame() const;
  std::vector<std::uint8_t> take_frame();

private:
  void add(Call c);

  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  std::deque<std::vector<std::uint8_t>> frames_;
};

// Installs a back end for the lifetime of a scope.
class ScopedBackend {
public:
  explicit ScopedBackend(Backend& b) { set_backend(&b); }
  ~ScopedBackend() { set_backend(nullptr); }
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;
};

// The tests' meter: the simulated meter's slave at address 1, serving
// every register (all 0 until set) and injecting no fault.
class MeterImage {
public:
  MeterImage();

  void set(std::uint16_t reg, std::uint16_t value) { slave_.image().set(reg, value); }
  std::uint16_t get(std::uint16_t reg) const { return slave_.image().get(reg); }

  // The reply frame, CRC included; writes are stored and echoed.
  std::vector<std::uint8_t> reply_to(const std::vector<std::uint8_t>& request);

private:
  meter_sim::Slave slave_;
};

// Answers every request frame the back end holds from the meter image and
// hands each reply to the device, until no request is left (or the limit
// is reached). Returns the number of exchanges.
int pump(RecordingBackend& rec, SPModbus& dev, MeterImage& meter, int limit = 1000);

// Reply frames built by hand, for frame-check tests.
std::vector<std::uint8_t> read_reply(std::uint8_t slave, const std::vector<std::uint16_t>& registers);
std::vector<std::uint8_t> exception_reply(std::uint8_t slave, std::uint8_t function, std::uint8_t code);

}  // namespace host
