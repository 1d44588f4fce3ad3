#include "host/backend.h"

#include <atomic>

namespace host {

Backend::~Backend() = default;

int Backend::send_sp(SMDVDevice&, int, const unsigned char*, unsigned, bool) { return 0; }
void Backend::save_history(SMDVDevice&, const unsigned char*, unsigned) {}
bool Backend::check_threshold(SMDVDevice&, const std::string&, const std::string&, float, int) { return false; }
bool Backend::check_threshold_bool(SMDVDevice&, int, const std::string&, const std::string&, const std::string&,
                                   const std::string&, bool, unsigned short) {
  return false;
}
int Backend::check_ao_report(SMDVDevice&, const std::string&, float) { return 0; }
int Backend::batch_check_threshold(SMDVDevice&, const std::vector<rule_value>&) { return 0; }
int Backend::device_io_control(SMDVDevice&, int, const void*, int, void*, int, int&) { return -1; }
int Backend::init_setting(SPModbus&, const Json::Value&) { return 0; }
void Backend::refresh_status(SMDSPDevice&) {}
void Backend::reset(SMDSPDevice&) {}
int Backend::open_port(SMDSPDevice&) { return 0; }
int Backend::close_port(SMDSPDevice&) { return 0; }
int Backend::send_data(SMDSPDevice&, const unsigned char*, unsigned) { return -1; }
void Backend::modbus_error(SPModbus&, const std::string&) {}

namespace {
Backend g_dropAll;
std::atomic<Backend*> g_backend{&g_dropAll};
}  // namespace

void set_backend(Backend* b) { g_backend.store(b ? b : &g_dropAll); }
Backend& backend() { return *g_backend.load(); }

}  // namespace host
