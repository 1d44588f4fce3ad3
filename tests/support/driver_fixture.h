#pragma once
// The driver on the recording host: the back end installed for the life of
// the fixture, the driver created with its data id set.
#include <cstdint>

#include <gtest/gtest.h>

#include "plugin/kvrm4410t_q.h"
#include "recording_backend.h"

namespace kvtest {

namespace recorded = host::recorded;

constexpr std::uint32_t kDataId = 12;

// Outside a gtest fixture for tests that install a back end of their own.
template <class Recorder = host::RecordingBackend>
struct Driver {
  Driver() { dev.dataId_ = kDataId; }

  Recorder rec;
  host::ScopedBackend scoped{rec};
  KVRM4410T_Q dev;
};

struct DriverTest : ::testing::Test, Driver<> {};

}  // namespace kvtest
