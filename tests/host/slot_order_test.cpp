// The order of the host's virtual operations is a binary contract with the
// real host; a replacement that reorders them breaks every plug-in.
#include "host/provider.h"
#include "host/sp_modbus.h"
#include "support/vtable_slot.h"

using Str = const std::string&;

TEST(HostSlots, VDeviceInterfaceOrder) {
  EXPECT_EQ(vtable_slot(&VDeviceInterface::Get_Value), 0);
  EXPECT_EQ(vtable_slot(static_cast<bool (VDeviceInterface::*)(Str)>(&VDeviceInterface::LoadFromCache)), 1);
  EXPECT_EQ(vtable_slot(static_cast<bool (VDeviceInterface::*)(const unsigned char*, int)>(
                &VDeviceInterface::LoadFromCache)),
            2);
  EXPECT_EQ(vtable_slot(&VDeviceInterface::DataId), 3);
  EXPECT_EQ(vtable_slot(&VDeviceInterface::DeviceType), 4);
  EXPECT_EQ(vtable_slot(&VDeviceInterface::DeviceIoControl), 5);
  EXPECT_EQ(vtable_slot(&VDeviceInterface::RoundDone), 6);
  EXPECT_EQ(vtable_slot(&VDeviceInterface::UseControllerDb), 7);
}

TEST(HostSlots, SMDVDeviceOrderLeavesTwoDestructorSlots) {
  EXPECT_EQ(vtable_slot(&SMDVDevice::Reset), 10);
  EXPECT_EQ(vtable_slot(&SMDVDevice::InitV), 11);
  EXPECT_EQ(vtable_slot(&SMDVDevice::Init), 12);
  EXPECT_EQ(vtable_slot(&SMDVDevice::InitSetting), 13);
  EXPECT_EQ(vtable_slot(&SMDVDevice::IsSupportDevice), 14);
  EXPECT_EQ(vtable_slot(&SMDVDevice::GetChildVDevice), 15);
  EXPECT_EQ(vtable_slot(&SMDVDevice::GetAllChildVDevices), 16);
  EXPECT_EQ(vtable_slot(&SMDVDevice::SendSP), 17);
  EXPECT_EQ(vtable_slot(&SMDVDevice::SendDelayData), 18);
  EXPECT_EQ(vtable_slot(&SMDVDevice::SendDoData), 19);
  EXPECT_EQ(vtable_slot(&SMDVDevice::ReadDi), 20);
  EXPECT_EQ(vtable_slot(&SMDVDevice::ReadAi), 21);
  EXPECT_EQ(vtable_slot(&SMDVDevice::Get_SP_Value), 22);
}

TEST(HostSlots, SerialAndModbusLayersOrder) {
  EXPECT_EQ(vtable_slot(&SMDSPDevice::Reset), 10);
  EXPECT_EQ(vtable_slot(&SMDSPDevice::Init), 12);
  EXPECT_EQ(vtable_slot(&SMDSPDevice::RefreshStatus), 23);
  EXPECT_EQ(vtable_slot(&SMDSPDevice::process), 24);
  EXPECT_EQ(vtable_slot(&SMDSPDevice::IsProcessing), 25);
  EXPECT_EQ(vtable_slot(&SMDSPDevice::IsStalled), 26);
  EXPECT_EQ(vtable_slot(&SMDSPDevice::SendData), 27);
  EXPECT_EQ(vtable_slot(&SMDSPDevice::SendParityData), 28);
  EXPECT_EQ(vtable_slot(&SMDSPDevice::OpenPort), 29);
  EXPECT_EQ(vtable_slot(&SMDSPDevice::ClosePort), 30);
  EXPECT_EQ(vtable_slot(&SPModbus::InitSetting), 13);
  EXPECT_EQ(vtable_slot(&SPModbus::process), 24);
  EXPECT_EQ(vtable_slot(&SPModbus::process_payload), 31);
  EXPECT_EQ(vtable_slot(&SPModbus::on_error), 32);
}

TEST(HostSlots, ProviderCreateFollowsTheDestructors) {
  EXPECT_EQ(vtable_slot(&Provider::create), 2);
  EXPECT_EQ(vtable_slot(&SMDSPDeviceProvider::create), 2);
}
