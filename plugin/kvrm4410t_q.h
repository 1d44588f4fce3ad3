#pragma once
// The driver of one KVRM4410T three-phase meter on a Modbus RTU line.
#include <atomic>
#include <string>

#include "acquisition/data_block.h"
#include "host/provider.h"
#include "host/sp_modbus.h"
#include "plugin/uni_data_device.h"
#include "publication/snapshot.h"
#include "publication/snapshot_text.h"

using KVRM4410T_Q_Base = UniDataDevice<KVRM4410T_Q_Data_t, SPModbus, 5156>;

class KVRM4410T_Q : public KVRM4410T_Q_Base {
public:
  KVRM4410T_Q();
  ~KVRM4410T_Q() override;

  double Get_Value(unsigned int index, const std::string& name) const override;
  int DeviceIoControl(int code, const void* in, int inLen, void* out, int outLen, int& outLenRet) override;
  int InitSetting(const Json::Value& config) override;
  int RefreshStatus() override;
  int process_payload(SPModbus::tab_type type, unsigned int count) override;
  void RunCheckThreshold() override;
  void GenJsonData() override;

  // Judges the reply to a register write (request states 206 and 210) and
  // ends the exchange; the payload handler's answer for that state.
  int confirm_write();

  // Outcome of the last write (-1 none or pending, 1 confirmed, 3 not) and
  // what its reply must show. Written by the payload handler, read by
  // commands on other host threads.
  std::atomic<int> controlResult_{-1};
  std::atomic<int> controlExpected_{-1};

  // Where the rebuild finds the snapshot's members, and the snapshot's
  // text as command 801 last wrote it. Both under the driver mutex.
  kvrm::SnapshotMembers snapshotMembers_;
  kvrm::SnapshotText snapshotText_;
};

class KVRM4410T_QProvider : public SMDSPDeviceProvider {
public:
  ~KVRM4410T_QProvider() override;
  SMDSPDevice* create() const override;
};
