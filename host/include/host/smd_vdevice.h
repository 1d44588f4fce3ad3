#pragma once
// Second layer: a device known to the host, with its data publication,
// history and alarm services. Every effect goes to the installed back end.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <json/value.h>

#include "host/atomic_time.h"
#include "host/smd_controller.h"
#include "host/types.h"
#include "host/vdevice_interface.h"

class SMDVDevice : public VDeviceInterface {
public:
  // The host's analog report rule for one signal id.
  struct BAOSetting {
    bool changeEnabled = false;
    float changeDelta = 0.0f;
    bool percentEnabled = false;
    float percentDelta = 0.0f;
    bool periodEnabled = false;
    float periodMinutes = 0.0f;
    std::uint32_t lastReportTime = 0;
    float lastReportValue = 0.0f;
  };

  ~SMDVDevice() override;

  // The host's base handling of commands: handed to the back end.
  int DeviceIoControl(int code, const void* in, int inLen, void* out, int outLen, int& outLenRet) override;

  // slot 10: implemented by the serial-device layer.
  virtual void Reset();
  // slot 11
  virtual int InitV(SMDVDevice* parent, unsigned int dataId, const Json::Value& config);
  // slot 12: implemented by the serial-device layer.
  virtual int Init(std::weak_ptr<SMDController> controller, unsigned int dataId, const Json::Value& config);
  // slot 13
  virtual int InitSetting(const Json::Value& config);
  // slot 14
  virtual bool IsSupportDevice(const std::string& type) const;
  // slot 15: no child devices by default.
  virtual std::shared_ptr<SMDVDevice> GetChildVDevice(unsigned int dataId);
  // slot 16
  virtual std::vector<std::shared_ptr<SMDVDevice>> GetAllChildVDevices();
  // slot 17: publishes a data record under a data id.
  virtual int SendSP(int dataId, const unsigned char* data, unsigned int length, bool flag);
  // slot 18
  virtual int SendDelayData(int dataId);
  // slot 19
  virtual int SendDoData(int index, char value);
  // slot 20
  virtual int ReadDi(int index);
  // slot 21
  virtual float ReadAi(int index);
  // slot 22
  virtual double Get_SP_Value(unsigned int index, const std::string& name);

  // Non-virtual host services.
  void SaveDeviceHistory(const unsigned char* data, unsigned int length);
  int CheckThreshold(const std::string& signalId, const std::string& name, float value, int flag);
  int CheckThresholdBool(int level, const std::string& signalName, const std::string& alarmId,
                         const std::string& valueText, const std::string& alarmText, bool active,
                         unsigned short flag);
  int CheckAOReport(const std::string& signalId, float value);
  int DoBatchCheckThreshold(std::vector<rule_value>& rules);

  SMDVDevice* parent_ = nullptr;
  // Written by round completion, read by host threads without a lock.
  host::AtomicTime lastUpdateTime_;  // not-a-date-time until a round completes
  std::atomic<bool> dataReady_{false};
  std::uint16_t status_ = 0;
  std::vector<rule_value> rules_;
  std::uint8_t checkResult_ = 0;
  std::map<std::string, BAOSetting> aoReportRuleMap_;
  std::map<std::string, int> signalLevelMap_;
  std::map<std::string, float> signalValueMap_;
};
