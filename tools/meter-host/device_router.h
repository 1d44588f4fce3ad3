#pragma once
// The framework has one back end per process; a line with several meters
// has one back end per meter. This one hands every effect to the back end
// of the device that caused it.
#include <mutex>
#include <utility>
#include <vector>

#include "host/backend.h"

namespace meter_host {

class DeviceRouter : public host::Backend {
public:
  // Before the device is used, also while others run (a meter added by a
  // reload); devices are never removed.
  void add(const SMDVDevice* device, host::Backend* backend);

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
  // The device's back end; the dropping one for a device never added.
  host::Backend& of(const SMDVDevice& dev);

  std::mutex mutex_;
  std::vector<std::pair<const SMDVDevice*, host::Backend*>> routes_;
  host::Backend dropAll_;
};

}  // namespace meter_host
