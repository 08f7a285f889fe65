// Hexadecimal digits, read in any character type and written in lowercase,
// for the .reg format, Variant's "&H" numbers and reg's hex arguments.
#pragma once

#include <cstdint>

namespace corvane::base {

namespace detail {
// 0-15 for an ASCII hex digit, 0xFF for any other ASCII character.
inline constexpr auto kHexValues = [] {
  struct Table {
    std::uint8_t v[128];
  } t{};
  for (auto& x : t.v) x = 0xFF;
  for (int i = 0; i < 10; ++i) t.v['0' + i] = std::uint8_t(i);
  for (int i = 0; i < 6; ++i) {
    t.v['a' + i] = std::uint8_t(10 + i);
    t.v['A' + i] = std::uint8_t(10 + i);
  }
  return t;
}();
}  // namespace detail

inline constexpr unsigned kNotHex = 0xFF;

// 0-15, or kNotHex. A table rather than comparisons: the .reg reader calls
// this for every digit of a .reg file's binary data.
template <typename C>
constexpr unsigned HexDigitValue(C c) {
  const auto u = static_cast<std::uint32_t>(c);
  return u < 128 ? detail::kHexValues.v[u] : kNotHex;
}

inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

}  // namespace corvane::base
