#pragma once
// The plug-in, loaded as the real host loads it: dlopen, get_providers,
// create. The devices live until the plug-in is unloaded.
#include <memory>
#include <string>
#include <vector>

#include "host/provider.h"
#include "host/sp_modbus.h"

namespace meter_host {

class Plugin {
public:
  Plugin() = default;
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  bool load(const std::string& path, std::string* error);
  // A new device from the first factory, one per meter; it must be a
  // Modbus device.
  SPModbus* create(std::string* error);
  // Destroys every device through its virtual destructor.
  void destroy_devices();
  // Destroys one device that nothing else knows.
  void destroy(SPModbus* device);

private:
  void* handle_ = nullptr;
  std::vector<std::shared_ptr<Provider>> providers_;
  std::vector<std::unique_ptr<VDeviceInterface>> devices_;
};

// The plug-in built beside meter-host: its path at build time, or the
// library next to the running program.
std::string default_plugin_path();
std::string default_sim_path();

}  // namespace meter_host
