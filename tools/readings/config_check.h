#pragma once
// The bench host's check of a device configuration and of the point file
// that point-file mode would read: one text per finding. The driver itself
// loads whatever it is given without a word; this says what it will make
// of it. Every check that can be made is made, whatever the mode.
#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "config/point_file.h"

namespace readings {

using Findings = std::vector<std::string>;

// The catalogue member nearest to a name (fewest characters to change);
// the empty text when none is close.
std::string nearest_member(const std::string& name);

// The mode the driver takes from the configuration (1 when none is given);
// nothing when "b_mode" is an array or object, which the driver refuses.
std::optional<int> effective_mode(const Json::Value& config);

// "appSetting", "b_mode" and every member of "thresholdSetting".
Findings check_settings(const Json::Value& config);

// What the point-file search found, read once from the file system.
struct PointFileState {
  enum class Kind { none, yaml, unreadable, malformed, read };
  kvrm::PointFileCandidates candidates;
  std::string path;  // the chosen candidate; empty for none
  Kind kind = Kind::none;
  std::string error;  // unreadable or malformed: why
  bool hasAi = false;
  bool hasAlarm = false;
  kvrm::SectionLines ai;
};

PointFileState probe_point_file(unsigned dataId, const std::string& deviceType);

Findings check_point_file(const PointFileState& state);

// Point files matter in mode 1, and in a mode the driver does not know
// (whatever was meant, everything is checked); not in modes 3 and 5.
bool point_file_matters(const std::optional<int>& mode);

}  // namespace readings
