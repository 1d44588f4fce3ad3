#pragma once
// The host's back end: one method per effect that the framework hands out.
// Tests install a recording back end; the bench host one that drives a real
// serial line. Without an installed back end every effect is dropped.
#include <string>
#include <vector>

#include <json/value.h>

#include "host/types.h"

class SMDVDevice;
class SMDSPDevice;
class SPModbus;

namespace host {

class Backend {
public:
  virtual ~Backend();

  // Data publication and history.
  virtual int send_sp(SMDVDevice& dev, int dataId, const unsigned char* data, unsigned length, bool flag);
  virtual void save_history(SMDVDevice& dev, const unsigned char* data, unsigned length);

  // Alarm services. A true answer from the first two adds a rule to the
  // device's rule list.
  virtual bool check_threshold(SMDVDevice& dev, const std::string& signalId, const std::string& name,
                               float value, int flag);
  virtual bool check_threshold_bool(SMDVDevice& dev, int level, const std::string& signalName,
                                    const std::string& alarmId, const std::string& valueText,
                                    const std::string& alarmText, bool active, unsigned short flag);
  virtual int check_ao_report(SMDVDevice& dev, const std::string& signalId, float value);
  virtual int batch_check_threshold(SMDVDevice& dev, const std::vector<rule_value>& rules);

  // Base operations of the device classes.
  virtual int device_io_control(SMDVDevice& dev, int code, const void* in, int inLen, void* out, int outLen,
                                int& outLenRet);
  virtual int init_setting(SPModbus& dev, const Json::Value& config);
  virtual void refresh_status(SMDSPDevice& dev);
  virtual void reset(SMDSPDevice& dev);
  virtual int open_port(SMDSPDevice& dev);
  virtual int close_port(SMDSPDevice& dev);

  // Serial line: one whole request frame, CRC included.
  virtual int send_data(SMDSPDevice& dev, const unsigned char* frame, unsigned length);

  // The Modbus layer rejected a reply (or found none); says why.
  virtual void modbus_error(SPModbus& dev, const std::string& why);
};

// Installs the back end for every device of the process; nullptr restores
// the one that drops everything. The caller keeps ownership.
void set_backend(Backend* backend);
Backend& backend();

}  // namespace host
