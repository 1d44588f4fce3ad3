#pragma once
// The driver on the recording host: the back end installed for the life of
// the object, the driver created with its data id set. Needs no test
// framework, so the fuzz targets make their drivers the same way.
#include <cstdint>

#include "plugin/kvrm4410t_q.h"
#include "recording_backend.h"

namespace kvtest {

namespace recorded = host::recorded;

constexpr std::uint32_t kDataId = 12;

template <class Recorder = host::RecordingBackend>
struct Driver {
  Driver() { dev.dataId_ = kDataId; }

  Recorder rec;
  host::ScopedBackend scoped{rec};
  KVRM4410T_Q dev;
};

}  // namespace kvtest
