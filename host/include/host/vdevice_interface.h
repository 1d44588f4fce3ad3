#pragma once
// First layer of the host's device classes. The order of the virtual
// operations below is a binary contract with the host: do not reorder.
#include <cstdint>
#include <string>

class VDeviceInterface {
public:
  VDeviceInterface() = default;
  VDeviceInterface(const VDeviceInterface&) = delete;
  VDeviceInterface& operator=(const VDeviceInterface&) = delete;

  // slot 0: default answers that no data is ready.
  virtual double Get_Value(unsigned int index, const std::string& name) const;
  // slot 1: passes the text's bytes on to the byte form.
  virtual bool LoadFromCache(const std::string& data);
  // slot 2
  virtual bool LoadFromCache(const unsigned char* data, int length);
  // slot 3
  virtual unsigned int DataId() const;
  // slot 4
  virtual std::string DeviceType() const;
  // slot 5
  virtual int DeviceIoControl(int code, const void* in, int inLen, void* out, int outLen, int& outLenRet);
  // slot 6
  virtual void RoundDone();
  // slot 7
  virtual bool UseControllerDb();
  // slots 8 and 9 (complete and deleting destructor)
  virtual ~VDeviceInterface();

  std::uint32_t dataId_ = 0;
  std::string deviceType_;
};
