// Default behaviour of the host's device classes.
#include <iostream>
#include <stdexcept>

#include "host/backend.h"
#include "host/provider.h"
#include "host/smd_controller.h"
#include "host/sp_modbus.h"

ttime_t get_ttime(const boost::posix_time::ptime& t) {
  const auto date = t.date();
  const auto tod = t.time_of_day();
  ttime_t out{};
  out.year = static_cast<std::uint16_t>(date.year());
  out.month = static_cast<std::uint8_t>(date.month().as_number());
  out.day = static_cast<std::uint8_t>(date.day());
  out.hour = static_cast<std::uint8_t>(tod.hours());
  out.minute = static_cast<std::uint8_t>(tod.minutes());
  out.second = static_cast<std::uint8_t>(tod.seconds());
  return out;
}

SMDController::~SMDController() = default;

// ---- VDeviceInterface ----

double VDeviceInterface::Get_Value(unsigned int, const std::string&) const {
  throw std::out_of_range("数据未就绪");
}

bool VDeviceInterface::LoadFromCache(const std::string& data) {
  return LoadFromCache(reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
}

bool VDeviceInterface::LoadFromCache(const unsigned char*, int) { return false; }
unsigned int VDeviceInterface::DataId() const { return dataId_; }
std::string VDeviceInterface::DeviceType() const { return deviceType_; }
int VDeviceInterface::DeviceIoControl(int, const void*, int, void*, int, int& outLenRet) {
  outLenRet = 0;
  return -1;
}
void VDeviceInterface::RoundDone() {}
bool VDeviceInterface::UseControllerDb() { return false; }
VDeviceInterface::~VDeviceInterface() = default;

// ---- SMDVDevice ----

SMDVDevice::~SMDVDevice() = default;

int SMDVDevice::DeviceIoControl(int code, const void* in, int inLen, void* out, int outLen, int& outLenRet) {
  return host::backend().device_io_control(*this, code, in, inLen, out, outLen, outLenRet);
}

void SMDVDevice::Reset() {}

int SMDVDevice::InitV(SMDVDevice* parent, unsigned int dataId, const Json::Value& config) {
  parent_ = parent;
  dataId_ = dataId;
  return InitSetting(config);
}

int SMDVDevice::Init(std::weak_ptr<SMDController>, unsigned int dataId, const Json::Value& config) {
  dataId_ = dataId;
  return InitSetting(config);
}

int SMDVDevice::InitSetting(const Json::Value&) { return 0; }
bool SMDVDevice::IsSupportDevice(const std::string& type) const { return type == deviceType_; }
std::shared_ptr<SMDVDevice> SMDVDevice::GetChildVDevice(unsigned int) { return {}; }
std::vector<std::shared_ptr<SMDVDevice>> SMDVDevice::GetAllChildVDevices() { return {}; }

int SMDVDevice::SendSP(int dataId, const unsigned char* data, unsigned int length, bool flag) {
  return host::backend().send_sp(*this, dataId, data, length, flag);
}

int SMDVDevice::SendDelayData(int) { return 0; }
int SMDVDevice::SendDoData(int, char) { return -1; }
int SMDVDevice::ReadDi(int) { return 0; }
float SMDVDevice::ReadAi(int) { return 0.0f; }
double SMDVDevice::Get_SP_Value(unsigned int index, const std::string& name) { return Get_Value(index, name); }

void SMDVDevice::SaveDeviceHistory(const unsigned char* data, unsigned int length) {
  host::backend().save_history(*this, data, length);
}

int SMDVDevice::CheckThreshold(const std::string& signalId, const std::string& name, float value, int flag) {
  if (!host::backend().check_threshold(*this, signalId, name, value, flag)) return 0;
  rules_.push_back(rule_value{signalId, name, value, flag});
  return 1;
}

int SMDVDevice::CheckThresholdBool(int level, const std::string& signalName, const std::string& alarmId,
                                   const std::string& valueText, const std::string& alarmText, bool active,
                                   unsigned short flag) {
  if (!host::backend().check_threshold_bool(*this, level, signalName, alarmId, valueText, alarmText, active, flag))
    return 0;
  rules_.push_back(rule_value{alarmId, alarmText, active ? 1.0f : 0.0f, level});
  return 1;
}

int SMDVDevice::CheckAOReport(const std::string& signalId, float value) {
  return host::backend().check_ao_report(*this, signalId, value);
}

int SMDVDevice::DoBatchCheckThreshold(std::vector<rule_value>& rules) {
  return host::backend().batch_check_threshold(*this, rules);
}

// ---- SMDSPDevice ----

SMDSPDevice::~SMDSPDevice() = default;

void SMDSPDevice::Reset() { host::backend().reset(*this); }

int SMDSPDevice::Init(std::weak_ptr<SMDController> controller, unsigned int dataId, const Json::Value& config) {
  controller_ = std::move(controller);
  dataId_ = dataId;
  return InitSetting(config);
}

int SMDSPDevice::RefreshStatus() {
  host::backend().refresh_status(*this);
  return 0;
}

int SMDSPDevice::process(unsigned char*, unsigned int) { return 0; }
bool SMDSPDevice::IsProcessing() { return false; }
bool SMDSPDevice::IsStalled() { return false; }

int SMDSPDevice::SendData(const unsigned char* data, unsigned int length) {
  return host::backend().send_data(*this, data, length);
}

int SMDSPDevice::SendParityData(const unsigned char* data, unsigned int length, EnumParity) {
  return SendData(data, length);
}

int SMDSPDevice::OpenPort() { return host::backend().open_port(*this); }
int SMDSPDevice::ClosePort() { return host::backend().close_port(*this); }

// ---- factories ----

Provider::~Provider() = default;
SMDSPDeviceProvider::~SMDSPDeviceProvider() = default;
