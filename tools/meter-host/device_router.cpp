#include "device_router.h"

#include "host/sp_modbus.h"

namespace meter_host {

void DeviceRouter::add(const SMDVDevice* device, host::Backend* backend) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_.emplace_back(device, backend);
}

host::Backend& DeviceRouter::of(const SMDVDevice& dev) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [device, backend] : routes_)
    if (device == &dev) return *backend;
  return dropAll_;
}

int DeviceRouter::send_sp(SMDVDevice& dev, int dataId, const unsigned char* data, unsigned length, bool flag) {
  return of(dev).send_sp(dev, dataId, data, length, flag);
}
void DeviceRouter::save_history(SMDVDevice& dev, const unsigned char* data, unsigned length) {
  of(dev).save_history(dev, data, length);
}
bool DeviceRouter::check_threshold(SMDVDevice& dev, const std::string& signalId, const std::string& name,
                                   float value, int flag) {
  return of(dev).check_threshold(dev, signalId, name, value, flag);
}
bool DeviceRouter::check_threshold_bool(SMDVDevice& dev, int level, const std::string& signalName,
                                        const std::string& alarmId, const std::string& valueText,
                                        const std::string& alarmText, bool active, unsigned short flag) {
  return of(dev).check_threshold_bool(dev, level, signalName, alarmId, valueText, alarmText, active, flag);
}
int DeviceRouter::check_ao_report(SMDVDevice& dev, const std::string& signalId, float value) {
  return of(dev).check_ao_report(dev, signalId, value);
}
int DeviceRouter::batch_check_threshold(SMDVDevice& dev, const std::vector<rule_value>& rules) {
  return of(dev).batch_check_threshold(dev, rules);
}
int DeviceRouter::device_io_control(SMDVDevice& dev, int code, const void* in, int inLen, void* out, int outLen,
                                    int& outLenRet) {
  return of(dev).device_io_control(dev, code, in, inLen, out, outLen, outLenRet);
}
int DeviceRouter::init_setting(SPModbus& dev, const Json::Value& config) { return of(dev).init_setting(dev, config); }
void DeviceRouter::refresh_status(SMDSPDevice& dev) { of(dev).refresh_status(dev); }
void DeviceRouter::reset(SMDSPDevice& dev) { of(dev).reset(dev); }
int DeviceRouter::open_port(SMDSPDevice& dev) { return of(dev).open_port(dev); }
int DeviceRouter::close_port(SMDSPDevice& dev) { return of(dev).close_port(dev); }
int DeviceRouter::send_data(SMDSPDevice& dev, const unsigned char* frame, unsigned length) {
  return of(dev).send_data(dev, frame, length);
}
void DeviceRouter::modbus_error(SPModbus& dev, const std::string& why) { of(dev).modbus_error(dev, why); }

}  // namespace meter_host
