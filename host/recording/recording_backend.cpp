#include "recording_backend.h"

#include "host/rtu.h"
#include "host/sp_modbus.h"

namespace host {

void RecordingBackend::add(Call c) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(std::move(c));
}

int RecordingBackend::send_sp(SMDVDevice& dev, int dataId, const unsigned char* data, unsigned length, bool flag) {
  add(Call{"send_sp", &dev, {dataId, length, flag ? 1 : 0}, {}, {}, {data, data + length}});
  return sendResult;
}

void RecordingBackend::save_history(SMDVDevice& dev, const unsigned char* data, unsigned length) {
  add(Call{"save_history", &dev, {length}, {}, {}, {data, data + length}});
}

bool RecordingBackend::check_threshold(SMDVDevice& dev, const std::string& signalId, const std::string& name,
                                       float value, int flag) {
  add(Call{"check_threshold", &dev, {flag}, {value}, {signalId, name}, {}});
  return thresholdAddsRule;
}

bool RecordingBackend::check_threshold_bool(SMDVDevice& dev, int level, const std::string& signalName,
                                            const std::string& alarmId, const std::string& valueText,
                                            const std::string& alarmText, bool active, unsigned short flag) {
  add(Call{"check_threshold_bool", &dev, {level, active ? 1 : 0, flag}, {}, {signalName, alarmId, valueText, alarmText}, {}});
  return thresholdAddsRule;
}

int RecordingBackend::check_ao_report(SMDVDevice& dev, const std::string& signalId, float value) {
  add(Call{"check_ao_report", &dev, {}, {value}, {signalId}, {}});
  return aoReportResult;
}

int RecordingBackend::batch_check_threshold(SMDVDevice& dev, const std::vector<rule_value>& rules) {
  Call c{"batch_check_threshold", &dev, {static_cast<long long>(rules.size())}, {}, {}, {}};
  for (const auto& r : rules) c.texts.push_back(r.signalId);
  add(std::move(c));
  return batchResult;
}

int RecordingBackend::device_io_control(SMDVDevice& dev, int code, const void* in, int inLen, void*, int outLen,
                                        int& outLenRet) {
  Call c{"device_io_control", &dev, {code, inLen, outLen, outLenRet}, {}, {}, {}};
  if (in != nullptr && inLen > 0) {
    const auto* p = static_cast<const std::uint8_t*>(in);
    c.bytes.assign(p, p + inLen);
  }
  add(std::move(c));
  return ioControlResult;
}

int RecordingBackend::init_setting(SPModbus& dev, const Json::Value& config) {
  add(Call{"init_setting", &dev, {}, {}, {config.toStyledString()}, {}});
  return initSettingResult;
}

void RecordingBackend::refresh_status(SMDSPDevice& dev) { add(Call{"refresh_status", &dev, {}, {}, {}, {}}); }
void RecordingBackend::reset(SMDSPDevice& dev) { add(Call{"reset", &dev, {}, {}, {}, {}}); }

int RecordingBackend::open_port(SMDSPDevice& dev) {
  add(Call{"open_port", &dev, {}, {}, {}, {}});
  return 0;
}

int RecordingBackend::close_port(SMDSPDevice& dev) {
  add(Call{"close_port", &dev, {}, {}, {}, {}});
  return 0;
}

int RecordingBackend::send_data(SMDSPDevice& dev, const unsigned char* frame, unsigned length) {
  std::vector<std::uint8_t> bytes(frame, frame + length);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(bytes);
  }
  add(Call{"send_data", &dev, {length}, {}, {}, std::move(bytes)});
  return 0;
}

void RecordingBackend::modbus_error(SPModbus& dev, const std::string& why) {
  add(Call{"modbus_error", &dev, {}, {}, {why}, {}});
}

std::vector<Call> RecordingBackend::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<Call> RecordingBackend::calls(const std::string& op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Call> out;
  for (const auto& c : calls_)
    if (c.op == op) out.push_back(c);
  return out;
}

std::vector<std::string> RecordingBackend::ops() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& c : calls_) out.push_back(c.op);
  return out;
}

std::size_t RecordingBackend::count(const std::string& op) const { return calls(op).size(); }

void RecordingBackend::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
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
