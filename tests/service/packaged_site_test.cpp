// The site file the package ships names no real port: the host refuses it
// with one line until the port is set.
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "site.h"
#include "support/temp_dir.h"

namespace {

std::string file_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(PackagedSite, IsRefusedWithOneLineUntilItsPortIsSet) {
  meter_host::Site site;
  std::string error;
  EXPECT_FALSE(meter_host::read_site(KV_PACKAGED_SITE, &site, &error));
  EXPECT_EQ(error, std::string(KV_PACKAGED_SITE) +
                       ": the site's line \"port\" is a placeholder, not a port: set it to the adapter's path "
                       "(/dev/serial/by-id/...)");
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST(PackagedSite, LoadsOnceThePortIsAPath) {
  std::string text = file_text(KV_PACKAGED_SITE);
  const auto open = text.find("\"<");
  const auto close = text.find(">\"", open);
  ASSERT_NE(close, std::string::npos) << text;
  text.replace(open, close + 2 - open, "\"/dev/serial/by-id/usb-FTDI_USB-RS485-if00-port0\"");
  kvtest::TempDir dir;
  dir.write("site.json", text);
  meter_host::Site site;
  std::string error;
  ASSERT_TRUE(meter_host::read_site(dir.path("site.json"), &site, &error)) << error;
  EXPECT_EQ(site.line["port"].asString(), "/dev/serial/by-id/usb-FTDI_USB-RS485-if00-port0");
  ASSERT_EQ(site.meters.size(), 1u);
}

TEST(SitePort, PlaceholdersAndRelativePathsAreNoPorts) {
  EXPECT_EQ(meter_host::port_refusal("/dev/serial/by-id/usb-FTDI_USB-RS485-if00-port0"), "");
  EXPECT_EQ(meter_host::port_refusal("/dev/ttyUSB0"), "");
  for (const char* placeholder : {"<the adapter's path>", "/dev/serial/by-id/<adapter>"})
    EXPECT_NE(meter_host::port_refusal(placeholder).find("placeholder"), std::string::npos) << placeholder;
  for (const char* relative : {"", "ttyUSB0", "dev/ttyUSB0"})
    EXPECT_NE(meter_host::port_refusal(relative).find("must be a device path"), std::string::npos) << relative;
}

}  // namespace
