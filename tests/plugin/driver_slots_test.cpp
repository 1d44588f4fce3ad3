// Every virtual operation of the driver sits in the slot the host calls.
#include <gtest/gtest.h>

#include "plugin/kvrm4410t_q.h"
#include "support/vtable_slot.h"

using D = KVRM4410T_Q;

TEST(DriverSlots, AllOperationsInHostOrder) {
  EXPECT_EQ(vtable_slot(&D::Get_Value), 0);
  EXPECT_EQ(vtable_slot(static_cast<bool (VDeviceInterface::*)(const std::string&)>(&D::LoadFromCache)), 1);
  EXPECT_EQ(vtable_slot(static_cast<bool (KVRM4410T_Q_Base::*)(const unsigned char*, int)>(&D::LoadFromCache)), 2);
  EXPECT_EQ(vtable_slot(&D::DataId), 3);
  EXPECT_EQ(vtable_slot(&D::DeviceType), 4);
  EXPECT_EQ(vtable_slot(&D::DeviceIoControl), 5);
  EXPECT_EQ(vtable_slot(&D::RoundDone), 6);
  EXPECT_EQ(vtable_slot(&D::UseControllerDb), 7);
  EXPECT_EQ(vtable_slot(&D::Reset), 10);
  EXPECT_EQ(vtable_slot(&D::InitV), 11);
  EXPECT_EQ(vtable_slot(&D::Init), 12);
  EXPECT_EQ(vtable_slot(&D::InitSetting), 13);
  EXPECT_EQ(vtable_slot(&D::IsSupportDevice), 14);
  EXPECT_EQ(vtable_slot(&D::GetChildVDevice), 15);
  EXPECT_EQ(vtable_slot(&D::GetAllChildVDevices), 16);
  EXPECT_EQ(vtable_slot(&D::SendSP), 17);
  EXPECT_EQ(vtable_slot(&D::SendDelayData), 18);
  EXPECT_EQ(vtable_slot(&D::SendDoData), 19);
  EXPECT_EQ(vtable_slot(&D::ReadDi), 20);
  EXPECT_EQ(vtable_slot(&D::ReadAi), 21);
  EXPECT_EQ(vtable_slot(&D::Get_SP_Value), 22);
  EXPECT_EQ(vtable_slot(&D::RefreshStatus), 23);
  EXPECT_EQ(vtable_slot(&D::process), 24);
  EXPECT_EQ(vtable_slot(&D::IsProcessing), 25);
  EXPECT_EQ(vtable_slot(&D::IsStalled), 26);
  EXPECT_EQ(vtable_slot(&D::SendData), 27);
  EXPECT_EQ(vtable_slot(&D::SendParityData), 28);
  EXPECT_EQ(vtable_slot(&D::OpenPort), 29);
  EXPECT_EQ(vtable_slot(&D::ClosePort), 30);
  EXPECT_EQ(vtable_slot(&D::process_payload), 31);
  EXPECT_EQ(vtable_slot(&D::on_error), 32);
  EXPECT_EQ(vtable_slot(&D::RunCheckThreshold), 33);
  EXPECT_EQ(vtable_slot(&D::GenJsonData), 34);
}

TEST(DriverSlots, ProviderCreateInThirdSlot) {
  EXPECT_EQ(vtable_slot(&KVRM4410T_QProvider::create), 2);
}
