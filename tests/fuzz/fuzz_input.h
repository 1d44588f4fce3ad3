#pragma once
// What every fuzz target needs: its input read as a stream of small
// decisions, standard output dropped, and a working directory of its own.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>

#include "support/temp_dir.h"

namespace kvfuzz {

// The input, taken from the front; past its end every read gives zeros,
// so a target never has to check what is left.
class Input {
public:
  Input(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
  bool empty() const { return p_ == end_; }
  std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }
  std::uint8_t byte() { return empty() ? 0 : *p_++; }
  std::uint16_t word() { return static_cast<std::uint16_t>(byte() << 8 | byte()); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(word()) << 16 | word(); }
  std::string bytes(std::size_t n) {
    const std::size_t k = n < left() ? n : left();
    std::string s(reinterpret_cast<const char*>(p_), k);
    p_ += k;
    return s;
  }
  std::string rest() { return bytes(left()); }

private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

// The code under test logs a line per call: at fuzzing speed that is
// noise that hides the fuzzer's own report (which goes to standard error).
inline void drop_stdout() {
  struct Null : std::streambuf {
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  };
  // Never destroyed: the stream flushes it once more at exit.
  static Null* const null = new Null;
  static std::streambuf* const previous = std::cout.rdbuf(null);
  (void)previous;
}

// A temporary directory made the working directory on first use, for the
// life of the process: relative paths of the code under test land there.
inline const kvtest::TempWorkDir& work_dir() {
  static const kvtest::TempWorkDir dir;
  return dir;
}

}  // namespace kvfuzz
