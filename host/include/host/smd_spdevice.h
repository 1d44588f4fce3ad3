#pragma once
// Third layer: a device on one of the host's serial lines.
#include <memory>

#include "host/smd_vdevice.h"

class SMDSPDevice : public SMDVDevice {
public:
  ~SMDSPDevice() override;

  void Reset() override;
  int Init(std::weak_ptr<SMDController> controller, unsigned int dataId, const Json::Value& config) override;

  // slot 23: base work of a status refresh.
  virtual int RefreshStatus();
  // slot 24: a frame received from the line; the Modbus layer decodes it.
  virtual int process(unsigned char* data, unsigned int length);
  // slot 25
  virtual bool IsProcessing();
  // slot 26
  virtual bool IsStalled();
  // slot 27: puts bytes on the serial line.
  virtual int SendData(const unsigned char* data, unsigned int length);
  // slot 28
  virtual int SendParityData(const unsigned char* data, unsigned int length, EnumParity parity);
  // slot 29
  virtual int OpenPort();
  // slot 30
  virtual int ClosePort();

  std::weak_ptr<SMDController> controller_;
  int baudRate_ = 9600;
  EnumParity parity_ = PARITY_NONE;
};
