#include "recording_backend.h"

#include "host/rtu.h"
#include "host/sp_modbus.h"

namespace host {

namespace recorded {
const char* op_of(const Record& r) {
  return std::visit([](const auto& one) { return std::decay_t<decltype(one)>::kOp; }, r);
}
}  // namespace recorded

using namespace recorded;

void RecordingBackend::add(Record r) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(std::move(r));
}

int RecordingBackend::send_sp(SMDVDevice&, int dataId, const unsigned char* data, unsigned length, bool flag) {
  add(SendSp{dataId, {data, data + length}, flag});
  return sendResult;
}

void RecordingBackend::save_history(SMDVDevice&, const unsigned char* data, unsigned length) {
  add(SaveHistory{{data, data + length}});
}

bool RecordingBackend::check_threshold(SMDVDevice&, const std::string& signalId, const std::string& name,
                                       float value, int flag) {
  add(CheckThreshold{signalId, name, value, flag});
  return thresholdAddsRule;
}

bool RecordingBackend::check_threshold_bool(SMDVDevice&, int level, const std::string& signalName,
                                            const std::string& alarmId, const std::string& valueText,
                                            const std::string& alarmText, bool active, unsigned short flag) {
  add(CheckThresholdBool{level, signalName, alarmId, valueText, alarmText, active, flag});
  return thresholdAddsRule;
}

int RecordingBackend::check_ao_report(SMDVDevice&, const std::string& signalId, float value) {
  add(CheckAoReport{signalId, value});
  return aoReportResult;
}

int RecordingBackend::batch_check_threshold(SMDVDevice&, const std::vector<rule_value>& rules) {
  BatchCheckThreshold r;
  for (const auto& rule : rules) r.signalIds.push_back(rule.signalId);
  add(std::move(r));
  return batchResult;
}

int RecordingBackend::device_io_control(SMDVDevice&, int code, const void* in, int inLen, void*, int outLen,
                                        int& outLenRet) {
  DeviceIoControl r{code, inLen, outLen, outLenRet, {}};
  if (in != nullptr && inLen > 0) {
    const auto* p = static_cast<const std::uint8_t*>(in);
    r.in.assign(p, p + inLen);
  }
  add(std::move(r));
  return ioControlResult;
}

int RecordingBackend::init_setting(SPModbus&, const Json::Value& config) {
  add(InitSetting{config.toStyledString()});
  return initSettingResult;
}

void RecordingBackend::refresh_status(SMDSPDevice&) { add(RefreshStatus{}); }
void RecordingBackend::reset(SMDSPDevice&) { add(Reset{}); }

int RecordingBackend::open_port(SMDSPDevice&) {
  add(OpenPort{});
  return 0;
}

int RecordingBackend::close_port(SMDSPDevice&) {
  add(ClosePort{});
  return 0;
}

int RecordingBackend::send_data(SMDSPDevice&, const unsigned char* frame, unsigned length) {
  std::vector<std::uint8_t> bytes(frame, frame + length);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(bytes);
  }
  add(SendData{std::move(bytes)});
  return 0;
}

void RecordingBackend::modbus_error(SPModbus&, const std::string& why) { add(ModbusError{why}); }

std::vector<Record> RecordingBackend::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

std::vector<std::string> RecordingBackend::ops() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& r : records_) out.push_back(op_of(r));
  return out;
}

std::size_t RecordingBackend::count(const std::string& op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t n = 0;
  for (const auto& r : records_)
    if (op == op_of(r)) ++n;
  return n;
}

void RecordingBackend::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
  frames_.clear();
}

bool RecordingBackend::has_frame() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !frames_.empty();
}

std::vector<std::uint8_t> RecordingBackend::take_frame() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (frames_.empty()) return {};
  auto f = std::move(frames_.front());
  frames_.pop_front();
  return f;
}

// ---- replies ----

MeterImage::MeterImage() : slave_(1, meter_sim::RegisterImage::every_register(), false, meter_sim::FaultPlan{}) {}

std::vector<std::uint8_t> MeterImage::reply_to(const std::vector<std::uint8_t>& request) {
  return slave_.handle(request.data(), request.size(), 0.0).frame;
}

int pump(RecordingBackend& rec, SPModbus& dev, MeterImage& meter, int limit) {
  int n = 0;
  while (n < limit && rec.has_frame()) {
    auto reply = meter.reply_to(rec.take_frame());
    dev.process(reply.data(), static_cast<unsigned>(reply.size()));
    ++n;
  }
  return n;
}

std::vector<std::uint8_t> read_reply(std::uint8_t slave, const std::vector<std::uint16_t>& registers) {
  std::vector<std::uint8_t> f{slave, kReadHoldingRegisters, static_cast<std::uint8_t>(2 * registers.size())};
  for (auto r : registers) put_word(f, r);
  append_crc(f);
  return f;
}

std::vector<std::uint8_t> exception_reply(std::uint8_t slave, std::uint8_t function, std::uint8_t code) {
  std::vector<std::uint8_t> f{slave, static_cast<std::uint8_t>(function | kExceptionFlag), code};
  append_crc(f);
  return f;
}

}  // namespace host
