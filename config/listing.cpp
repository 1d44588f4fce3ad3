#include "config/listing.h"

#include <sstream>

#include "config/settings_text.h"

namespace kvrm {

std::string compose_listing_id(unsigned dataId, const Json::Value& member, std::ostream& out) {
  static const char* const kParts[] = {"NMAlarmID", "ID", "SignalNumber"};
  std::string text;
  for (const char* key : kParts) {
    if (is_present(member, key))
      text += member[key].asString();
    else
      out << dataId << ' ' << key << " is missing" << std::endl;
    text += ';';
  }
  return text;
}

std::string listing_line(const std::string& name, const std::string& idText, int level, float value) {
  std::ostringstream line;
  line << "mobile:" << name << ':' << idText << " level:" << level << " value:" << static_cast<double>(value);
  return line.str();
}

}  // namespace kvrm
