#pragma once
// The bench host's word when point-file mode finds no point file: the
// driver only says "b ini not found"; a person needs to know where it
// looked and where an example is.
#include <cstdint>
#include <optional>
#include <string>

#include <json/value.h>

namespace readings {

// The device type the plug-in reports; its point files are named after it.
constexpr const char* kDeviceType = "kvrm4410t_q";

// The line to show, when the configuration selects point-file mode and no
// candidate exists under the working directory `cwd`.
std::optional<std::string> point_file_hint(const Json::Value& config, std::uint32_t dataId, const std::string& cwd);

}  // namespace readings
