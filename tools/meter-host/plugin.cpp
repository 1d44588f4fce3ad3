#include "plugin.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <system_error>

namespace meter_host {

Plugin::~Plugin() {
  destroy_devices();
  providers_.clear();
  if (handle_) dlclose(handle_);
}

bool Plugin::load(const std::string& path, std::string* error) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    *error = "cannot load the plug-in: " + std::string(why ? why : path);
    return false;
  }
  auto entry = reinterpret_cast<get_providers_fn>(dlsym(handle_, "get_providers"));
  if (!entry) {
    *error = path + " has no get_providers";
    return false;
  }
  providers_ = entry();
  if (providers_.empty() || !providers_.front()) {
    *error = path + ": get_providers returned no factory";
    return false;
  }
  return true;
}

SPModbus* Plugin::create(std::string* error) {
  std::unique_ptr<VDeviceInterface> device(providers_.front()->create());
  auto* modbus = dynamic_cast<SPModbus*>(device.get());
  if (!modbus) {
    *error = device ? "the plug-in's device is not a Modbus device" : "the plug-in's factory created nothing";
    return nullptr;
  }
  devices_.push_back(std::move(device));
  return modbus;
}

void Plugin::destroy_devices() { devices_.clear(); }

void Plugin::destroy(SPModbus* device) {
  for (auto it = devices_.begin(); it != devices_.end(); ++it)
    if (dynamic_cast<SPModbus*>(it->get()) == device) {
      devices_.erase(it);
      return;
    }
}

namespace {

// The first of the given paths, relative to this program's folder, that
// exists: the installed layout first, then the build tree's. Falls back to
// the first one so that the error names where it was looked for.
std::string beside_program(std::initializer_list<const char*> relative) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return *relative.begin();
  const auto dir = self.parent_path();
  for (const char* r : relative) {
    const auto candidate = (dir / r).lexically_normal();
    if (std::filesystem::exists(candidate, ec)) return candidate.string();
  }
  return (dir / *relative.begin()).lexically_normal().string();
}

}  // namespace

std::string default_plugin_path() { return beside_program({METER_HOST_PLUGIN_INSTALLED, METER_HOST_PLUGIN_BUILT}); }
std::string default_sim_path() { return beside_program({METER_HOST_SIM_INSTALLED, METER_HOST_SIM_BUILT}); }

}  // namespace meter_host
