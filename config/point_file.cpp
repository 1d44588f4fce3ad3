#include "config/point_file.h"

#include <unistd.h>

#include <boost/property_tree/ini_parser.hpp>

namespace kvrm {

namespace {

enum class BaseName { DataId, DeviceType };

struct CandidateRow {
  const char* directory;
  BaseName base;
  const char* extension;
};

constexpr CandidateRow kCandidateRows[kPointFileCandidates] = {
    {"./ini/", BaseName::DataId, ".yaml"},        {"./ini/", BaseName::DataId, ".ini"},
    {"./ini/", BaseName::DeviceType, ".yaml"},    {"./ini/", BaseName::DeviceType, ".ini"},
    {"./ini/zediro/", BaseName::DataId, ".yaml"}, {"./ini/zediro/", BaseName::DataId, ".ini"},
    {"./ini/zediro/", BaseName::DeviceType, ".yaml"}, {"./ini/zediro/", BaseName::DeviceType, ".ini"},
};

}  // namespace

PointFileCandidates point_file_candidates(unsigned dataId, const std::string& deviceType) {
  const std::string id = std::to_string(dataId);
  PointFileCandidates paths;
  for (std::size_t i = 0; i < kPointFileCandidates; ++i) {
    const CandidateRow& row = kCandidateRows[i];
    paths[i] = row.directory + (row.base == BaseName::DataId ? id : deviceType) + row.extension;
  }
  return paths;
}

bool path_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string choose_point_file(const PointFileCandidates& candidates, const PathExists& exists) {
  for (const std::string& path : candidates)
    if (exists(path)) return path;
  return {};
}

bool is_yaml_path(const std::string& path) {
  static const std::string yaml = ".yaml";
  return path.size() >= yaml.size() && path.compare(path.size() - yaml.size(), yaml.size(), yaml) == 0;
}

std::pair<std::string, std::string> split_first_comma(const std::string& value) {
  const std::string::size_type p = value.find(',');
  if (p == std::string::npos) return {value, value};
  return {value.substr(0, p), value.substr(p + 1)};
}

boost::property_tree::ptree read_point_file(const std::string& path) {
  boost::property_tree::ptree tree;
  boost::property_tree::read_ini(path, tree);
  return tree;
}

SectionLines section_lines(const boost::property_tree::ptree& tree, const std::string& section) {
  SectionLines lines;
  for (const auto& line : tree.get_child(section)) lines.emplace_back(line.first, line.second.data());
  return lines;
}

}  // namespace kvrm
