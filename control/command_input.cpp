#include "control/command_input.h"

#include <cstring>
#include <exception>

#include <json/reader.h>
#include <json/value.h>

#include "config/modes.h"
#include "control/command_codes.h"

namespace kvrm {

namespace {

std::uint16_t input_word(const void* in, int index) {
  std::uint16_t w;
  std::memcpy(&w, static_cast<const unsigned char*>(in) + 2 * index, sizeof w);
  return w;
}

}  // namespace

std::optional<SingleWrite> decode_single_write(const void* in, int inLen) {
  if (in == nullptr || inLen < 4) return std::nullopt;
  return SingleWrite{input_word(in, 0), input_word(in, 1)};
}

std::optional<MultipleWrite> decode_multiple_write(const void* in, int inLen) {
  if (in == nullptr || inLen < 4) return std::nullopt;
  const int count = inLen / 2 - 1;
  if (count < 1 || count > kMaxWriteCount) return std::nullopt;
  MultipleWrite w;
  w.address = input_word(in, 0);
  w.count = count;
  std::memcpy(w.values.data(), static_cast<const unsigned char*>(in) + 2, 2 * static_cast<std::size_t>(count));
  return w;
}

bool signal_input_readable(const void* in, int inLen) { return inLen == 0 || (inLen > 0 && in != nullptr); }

bool signal_needs_parse(int code, int mode) { return code == kSignalCommand || mode != kPointFileMode; }

bool parses_as_json(const void* in, int inLen) {
  // An empty input is handed over as an empty text, never as a null range.
  const char* text = inLen > 0 ? static_cast<const char*>(in) : "";
  Json::Value root;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  Json::Reader reader;
  try {
    return reader.parse(text, text + (inLen > 0 ? inLen : 0), root);
  } catch (const std::exception&) {
    // The reader throws past its nesting limit instead of failing; by then
    // the command holds the request state, so it answers like any
    // unparseable text rather than let the exception leave the command.
    return false;
  }
#pragma GCC diagnostic pop
}

}  // namespace kvrm
