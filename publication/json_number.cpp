#include "publication/json_number.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace kvrm {

char* write_json_number(char* first, double v) {
  const char* word = nullptr;
  if (std::isnan(v))
    word = "null";
  else if (std::isinf(v))
    word = v < 0 ? "-1e+9999" : "1e+9999";
  if (word != nullptr) {
    const std::size_t n = std::strlen(word);
    std::memcpy(first, word, n);
    return first + n;
  }
  // to_chars with a precision prints what "%.17g" prints in the C locale.
  char* const end = std::to_chars(first, first + kJsonNumberRoom - 2, v, std::chars_format::general, 17).ptr;
  // The writer keeps a real looking like one: 50 is written 50.0.
  for (const char* p = first; p != end; ++p)
    if (*p == '.' || *p == 'e') return end;
  end[0] = '.';
  end[1] = '0';
  return end + 2;
}

}  // namespace kvrm
