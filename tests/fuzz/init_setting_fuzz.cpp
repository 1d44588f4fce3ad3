// Configuration loading with arbitrary JSON text in modes 1, 3 and 5 (and a
// mode that loads nothing), in mode 1 with an arbitrary point file.
// The first byte chooses the mode, whether the point file exists and whether
// the configuration is loaded twice; in mode 1 the text up to the first NUL
// byte is the point file, the rest the configuration.
// The INI reader's, the property tree's and the JSON library's errors reach
// the host by design and are caught here; anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <boost/property_tree/detail/file_parser_error.hpp>
#include <boost/property_tree/exceptions.hpp>
#include <json/reader.h>
#include <json/value.h>

#include "config/modes.h"
#include "fuzz_input.h"
#include "support/driver.h"

namespace {

constexpr int kModes[] = {kvrm::kPointFileMode, kvrm::kListingMode, kvrm::kThresholdMode, 0};
constexpr const char* kPointFile = "ini/kvrm4410t_q.ini";

// The host's own reading of the configuration text; what it refuses never
// reaches the driver.
bool parse_config(const std::string& text, Json::Value& config) {
  if (text.empty()) return true;  // an empty configuration
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    return reader->parse(text.data(), text.data() + text.size(), &config, &errors);
  } catch (const Json::Exception&) {
    return false;  // nested too deep for the reader
  }
}

void place_point_file(bool present, const std::string& text) {
  std::filesystem::remove(kPointFile);
  if (!present) return;
  std::filesystem::create_directories("ini");
  std::ofstream(kPointFile, std::ios::binary) << text;
}

// Loads the configuration; the errors that leave InitSetting by design end
// the load, as they would in the host.
void load(KVRM4410T_Q& dev, const Json::Value& config) {
  try {
    dev.InitSetting(config);
  } catch (const boost::property_tree::file_parser_error&) {  // the INI reader's
  } catch (const boost::property_tree::ptree_bad_path&) {     // a section missing
  } catch (const Json::LogicError&) {                          // text of an array or object
  }
  // The data id is stamped on every call, also when it fails.
  std::uint32_t stamped;
  std::memcpy(&stamped, dev.block(), sizeof stamped);
  if (stamped != kvtest::kDataId) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvfuzz::drop_stdout();
  kvfuzz::work_dir();
  kvfuzz::Input in(data, size);
  const std::uint8_t choice = in.byte();
  const int mode = kModes[choice % 4];
  const bool pointFile = (choice & 0x04) == 0;
  const bool twice = (choice & 0x08) != 0;
  std::string text = in.rest();

  std::string ini;
  if (mode == kvrm::kPointFileMode) {
    const std::size_t nul = text.find('\0');
    ini = text.substr(0, nul);
    text = nul == std::string::npos ? std::string() : text.substr(nul + 1);
  }
  place_point_file(mode == kvrm::kPointFileMode && pointFile, ini);

  Json::Value config;
  if (!parse_config(text, config)) return 0;

  kvtest::Driver<> driver;
  driver.dev.b_mode_ = mode;
  load(driver.dev, config);
  if (twice) load(driver.dev, config);
  return 0;
}
