// The registry's value types by number, for the layers below the platform
// (which has the REG_* names of Windows' headers) and the test of which
// types hold text.
#pragma once

#include <cstdint>

namespace corvane::base {

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegDwordBigEndian = 5;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

// The types whose data is text: UTF-16 in the registry, converted to the
// code page by the ANSI functions and carried in it by 8-bit .reg files.
constexpr bool IsStringType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

}  // namespace corvane::base
