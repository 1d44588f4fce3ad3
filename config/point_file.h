#pragma once
// The per-device point file: where it may be, which one is taken, and the
// two sections that the driver reads from it.
#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>

namespace kvrm {

constexpr std::size_t kPointFileCandidates = 8;
using PointFileCandidates = std::array<std::string, kPointFileCandidates>;

// The paths tried, best first: "./ini/" before "./ini/zediro/", the
// device's own data id before its type, ".yaml" before ".ini".
PointFileCandidates point_file_candidates(unsigned dataId, const std::string& deviceType);

// access(path, F_OK) == 0.
bool path_exists(const std::string& path);

// The first candidate that exists, or the empty text when none does.
using PathExists = std::function<bool(const std::string&)>;
std::string choose_point_file(const PointFileCandidates& candidates, const PathExists& exists = path_exists);

// A YAML point file is located but never read.
bool is_yaml_path(const std::string& path);

// The text before the first comma and the text after it; without a comma
// both are the whole value.
std::pair<std::string, std::string> split_first_comma(const std::string& value);

// The INI reader's tree of the file; its errors (ini_parser_error) leave
// as they are.
boost::property_tree::ptree read_point_file(const std::string& path);

// The key = value lines of one section, in file order. A section the tree
// lacks raises the property tree's bad-path error. The reader drops a
// section without lines, so an empty section counts as missing.
using SectionLines = std::vector<std::pair<std::string, std::string>>;
SectionLines section_lines(const boost::property_tree::ptree& tree, const std::string& section);

}  // namespace kvrm
