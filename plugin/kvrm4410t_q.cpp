#include "plugin/kvrm4410t_q.h"

KVRM4410T_Q::KVRM4410T_Q() {
  deviceType_ = "kvrm4410t_q";
  baudRate_ = 9600;
  modbusSetting_ = 1;
}

KVRM4410T_Q::~KVRM4410T_Q() = default;

int KVRM4410T_Q::InitSetting(const Json::Value& config) {
  // Stamped here before delegating, and again by the generic step with the
  // same value.
  kvrm::detail::stamp_data_id(*this);
  return KVRM4410T_Q_Base::InitSetting(config);
}

void KVRM4410T_Q::RunCheckThreshold() {}

KVRM4410T_QProvider::~KVRM4410T_QProvider() = default;

SMDSPDevice* KVRM4410T_QProvider::create() const { return new KVRM4410T_Q(); }
