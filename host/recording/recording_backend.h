#pragma once
// A host back end that records every effect, in order, as one typed record
// per operation with its arguments and a copy of the bytes passed, for
// tests to read back by name.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "host/backend.h"
#include "slave.h"

class SPModbus;

namespace host {

// One record type per back end operation; kOp is the operation's name.
namespace recorded {

using Bytes = std::vector<std::uint8_t>;

struct SendSp {
  static constexpr const char* kOp = "send_sp";
  int dataId = 0;
  Bytes bytes;
  bool flag = false;
};
struct SaveHistory {
  static constexpr const char* kOp = "save_history";
  Bytes bytes;
};
struct CheckThreshold {
  static constexpr const char* kOp = "check_threshold";
  std::string signalId;
  std::string name;
  float value = 0;
  int flag = 0;
};
struct CheckThresholdBool {
  static constexpr const char* kOp = "check_threshold_bool";
  int level = 0;
  std::string name;
  std::string id;
  std::string valueText;
  std::string alarmText;
  bool active = false;
  unsigned short flag = 0;
};
struct CheckAoReport {
  static constexpr const char* kOp = "check_ao_report";
  std::string signalId;
  float value = 0;
};
struct BatchCheckThreshold {
  static constexpr const char* kOp = "batch_check_threshold";
  std::vector<std::string> signalIds;  // of the rules, in order
};
struct DeviceIoControl {
  static constexpr const char* kOp = "device_io_control";
  int code = 0;
  int inLen = 0;
  int outLen = 0;
  int outLenRet = 0;  // as it came in
  Bytes in;
};
struct InitSetting {
  static constexpr const char* kOp = "init_setting";
  std::string config;  // styled JSON text
};
struct RefreshStatus {
  static constexpr const char* kOp = "refresh_status";
};
struct Reset {
  static constexpr const char* kOp = "reset";
};
struct OpenPort {
  static constexpr const char* kOp = "open_port";
};
struct ClosePort {
  static constexpr const char* kOp = "close_port";
};
struct SendData {
  static constexpr const char* kOp = "send_data";
  Bytes frame;
};
struct ModbusError {
  static constexpr const char* kOp = "modbus_error";
  std::string why;
};

using Record = std::variant<SendSp, SaveHistory, CheckThreshold, CheckThresholdBool, CheckAoReport,
                            BatchCheckThreshold, DeviceIoControl, InitSetting, RefreshStatus, Reset, OpenPort,
                            ClosePort, SendData, ModbusError>;

const char* op_of(const Record& r);

}  // namespace recorded

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

  // Every record, in order.
  std::vector<recorded::Record> records() const;
  // The records of one operation, in order.
  template <class R>
  std::vector<R> records_of() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<R> out;
    for (const auto& r : records_)
      if (const R* one = std::get_if<R>(&r)) out.push_back(*one);
    return out;
  }
  // The operation names, in order.
  std::vector<std::string> ops() const;
  std::size_t count(const std::string& op) const;
  void clear();

  // Request frames sent and not yet taken, oldest first.
  bool has_frame() const;
  std::vector<std::uint8_t> take_frame();

private:
  void add(recorded::Record r);

  mutable std::mutex mutex_;
  std::vector<recorded::Record> records_;
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
