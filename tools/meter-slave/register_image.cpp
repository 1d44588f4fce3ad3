#include "register_image.h"

#include <cstring>

#include <json/value.h>

#include "json_file.h"

namespace meter_sim {

bool served(unsigned start, unsigned count) {
  if (count == 0) return false;
  for (const RegisterBlock& b : kBlocks)
    if (start >= b.first && start + count - 1 <= b.last) return true;
  return false;
}

RegisterImage::RegisterImage(bool everyRegister)
    : everyRegister_(everyRegister),
      values_(everyRegister ? 0x10000 : kRegisterCount, 0),
      pinned_(values_.size(), false) {}

bool RegisterImage::serves(unsigned start, unsigned count) const {
  if (!everyRegister_) return served(start, count);
  return count > 0 && start + count - 1 < values_.size();
}

std::size_t RegisterImage::index(unsigned reg) const {
  if (everyRegister_) return reg < values_.size() ? reg : values_.size();
  std::size_t base = 0;
  for (const RegisterBlock& b : kBlocks) {
    if (reg >= b.first && reg <= b.last) return base + (reg - b.first);
    base += static_cast<std::size_t>(b.last - b.first + 1);
  }
  return values_.size();
}

std::uint16_t RegisterImage::get(unsigned reg) const {
  const std::size_t i = index(reg);
  return i < values_.size() ? values_[i] : 0;
}

void RegisterImage::set(unsigned reg, std::uint16_t value) {
  const std::size_t i = index(reg);
  if (i == values_.size()) return;
  values_[i] = value;
  pinned_[i] = true;
}

void RegisterImage::set_live(unsigned reg, std::uint16_t value) {
  const std::size_t i = index(reg);
  if (i == values_.size() || pinned_[i]) return;
  values_[i] = value;
}

bool RegisterImage::pinned(unsigned reg) const {
  const std::size_t i = index(reg);
  return i < values_.size() && pinned_[i];
}

void RegisterImage::set_live_int32(unsigned reg, std::int32_t value) {
  const auto raw = static_cast<std::uint32_t>(value);
  set_live(reg, static_cast<std::uint16_t>(raw >> 16));
  set_live(reg + 1, static_cast<std::uint16_t>(raw & 0xFFFF));
}

void RegisterImage::set_live_float(unsigned reg, float value) {
  std::uint32_t raw = 0;
  std::memcpy(&raw, &value, sizeof raw);
  set_live(reg, static_cast<std::uint16_t>(raw & 0xFFFF));
  set_live(reg + 1, static_cast<std::uint16_t>(raw >> 16));
}

namespace {

bool parse_register(const std::string& name, unsigned* reg) {
  if (name.empty() || name.size() > 5) return false;
  unsigned v = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  *reg = v;
  return true;
}

}  // namespace

std::map<unsigned, std::uint16_t> read_image_file(const std::string& path, std::string* error) {
  std::map<unsigned, std::uint16_t> image;
  Json::Value root;
  std::string why;
  switch (json_file::read(path, &root, &why)) {
    case json_file::Status::unreadable:
      *error = "cannot open " + path + ": " + why;
      return {};
    case json_file::Status::not_json:
      *error = path + ": not JSON: " + why;
      return {};
    case json_file::Status::ok:
      break;
  }
  if (!root.isObject()) {
    *error = path + ": expected one object of register number to value";
    return {};
  }
  for (const std::string& name : root.getMemberNames()) {
    unsigned reg = 0;
    if (!parse_register(name, &reg) || !served(reg, 1)) {
      *error = path + ": \"" + name + "\" is not a register of the meter";
      return {};
    }
    const Json::Value& v = root[name];
    if (!v.isIntegral() || v.asLargestInt() < -32768 || v.asLargestInt() > 65535) {
      *error = path + ": register " + name + " needs a 16-bit integer";
      return {};
    }
    image[reg] = static_cast<std::uint16_t>(v.asLargestInt() & 0xFFFF);
  }
  return image;
}

}  // namespace meter_sim
