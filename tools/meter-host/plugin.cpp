#include "plugin.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
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

namespace {

std::string beside_program(const char* name) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(name) : (self.parent_path() / name).string();
}

std::string existing_or_beside(const char* built, const char* name) {
  std::error_code ec;
  if (std::filesystem::exists(built, ec)) return built;
  return beside_program(name);
}

}  // namespace

std::string default_plugin_path() { return existing_or_beside(METER_HOST_PLUGIN, "libkvrm4410t_q.so"); }
std::string default_sim_path() { return existing_or_beside(METER_HOST_SIM, "meter-sim"); }

}  // namespace meter_host
