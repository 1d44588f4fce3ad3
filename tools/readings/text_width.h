#pragma once
// Columns that a UTF-8 text takes on a terminal: the Chinese characters
// and the full-width brackets of the member names take two.
#include <string>

namespace readings {

std::size_t display_width(const std::string& utf8);

// The text followed by blanks up to `width` columns (never cut).
std::string pad_right(const std::string& utf8, std::size_t width);
std::string pad_left(const std::string& utf8, std::size_t width);

}  // namespace readings
