#pragma once
// Slot index of a virtual member function, read from its pointer-to-member
// representation under the Itanium C++ ABI (and its ARM variant).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

template <class F>
long vtable_slot(F pmf) {
  static_assert(sizeof(F) == 2 * sizeof(std::ptrdiff_t), "Itanium member function pointer");
  std::ptrdiff_t words[2];
  std::memcpy(words, &pmf, sizeof words);
#if defined(__arm__) || defined(__aarch64__)
  // ARM keeps the vtable byte offset in the first word and flags a virtual
  // function in the low bit of the adjustment.
  if ((words[1] & 1) == 0) return -1;
  return static_cast<long>(words[0] / static_cast<std::ptrdiff_t>(sizeof(void*)));
#else
  // Elsewhere the first word is 1 plus the vtable byte offset.
  if ((words[0] & 1) == 0) return -1;
  return static_cast<long>((words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)));
#endif
}
