// The plug-in as the host meets it: loaded with dlopen, entered through
// get_providers, its drivers created and destroyed through host types.
#include <dlfcn.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/provider.h"
#include "plugin/kvrm4410t_q.h"
#include "recording_backend.h"

namespace {

get_providers_fn load_entry() {
  // Stays loaded for the whole test program, as in the host.
  static void* handle = dlopen(KV_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<get_providers_fn>(dlsym(handle, "get_providers"));
}

bool all_zero(const unsigned char* p, std::size_t n) {
  return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

}  // namespace

TEST(PluginEntry, LoadsAndFindsGetProviders) {
  ASSERT_NE(load_entry(), nullptr) << dlerror();
}

TEST(PluginEntry, EachCallMakesItsOwnFactory) {
  auto entry = load_entry();
  ASSERT_NE(entry, nullptr);
  auto first = entry();
  auto second = entry();
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(first[0].get(), second[0].get());
  EXPECT_EQ(first[0].use_count(), 1);

  std::unique_ptr<VDeviceInterface> a(first[0]->create());
  std::unique_ptr<VDeviceInterface> b(second[0]->create());
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a.get(), b.get());
  // Independent objects: a change to one does not show in the other.
  auto* ma = dynamic_cast<SPModbus*>(a.get());
  auto* mb = dynamic_cast<SPModbus*>(b.get());
  ASSERT_NE(ma, nullptr);
  ASSERT_NE(mb, nullptr);
  ma->dataId_ = 77;
  ma->requestState_ = 20;
  EXPECT_EQ(mb->dataId_, 0u);
  EXPECT_EQ(mb->requestState_.load(), 0);
}

TEST(PluginEntry, FreshDriverHasItsConstructionDefaults) {
  auto entry = load_entry();
  ASSERT_NE(entry, nullptr);
  auto providers = entry();
  std::unique_ptr<SMDSPDevice> dev(static_cast<SMDSPDeviceProvider&>(*providers[0]).create());
  EXPECT_EQ(dev->DeviceType(), "kvrm4410t_q");
  EXPECT_EQ(dev->baudRate_, 9600);
  // Same class on both sides of the boundary: read the driver's own members.
  auto& driver = static_cast<KVRM4410T_Q&>(*dev);
  EXPECT_EQ(driver.modbusSetting_, 1);
  EXPECT_EQ(driver.b_mode_, 1);
  EXPECT_EQ(driver.controlResult_.load(), -1);
  EXPECT_EQ(driver.controlExpected_.load(), -1);
  EXPECT_TRUE(all_zero(driver.block(), kvrm::kBlockSize));
  EXPECT_TRUE(driver.jsonSnapshot_.isNull());
  EXPECT_TRUE(driver.snapshotTime_.is_not_a_date_time());
  EXPECT_TRUE(driver.aiSignalMap_.empty());
  EXPECT_TRUE(driver.upThresholdMap_.empty());
}

// A driver that never ran asks nothing of the host on its way out (no port
// to close, no last block to send); the sanitizer suites check the delete
// through the host type itself.
TEST(PluginEntry, DriverThatNeverRanIsDestroyedThroughTheHostType) {
  host::RecordingBackend rec;
  host::ScopedBackend scoped(rec);
  auto entry = load_entry();
  ASSERT_NE(entry, nullptr);
  auto providers = entry();
  VDeviceInterface* dev = providers[0]->create();
  ASSERT_NE(dev, nullptr);
  delete dev;
  providers.clear();  // the factory goes too; the driver did not need it
  EXPECT_EQ(rec.ops(), std::vector<std::string>{});
}
