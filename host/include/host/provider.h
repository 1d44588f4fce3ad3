#pragma once
// Factories through which the host creates device objects.
#include <memory>
#include <vector>

#include "host/smd_spdevice.h"

class Provider {
public:
  virtual ~Provider();
  virtual VDeviceInterface* create() const = 0;
};

class SMDSPDeviceProvider : public Provider {
public:
  ~SMDSPDeviceProvider() override;
  SMDSPDevice* create() const override = 0;
};

// The plug-in's one exported entry.
using get_providers_fn = std::vector<std::shared_ptr<Provider>> (*)();
