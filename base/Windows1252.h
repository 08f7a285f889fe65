// Windows-1252, the ANSI code page the emulation runs in and the 8-bit
// encoding of .reg files: one table, in both directions.
#pragma once

#include <cstdint>

namespace corvane::base {

// Bytes 0x80-0x9F; every other byte is its own code point. The five bytes
// the code page leaves undefined map to the C1 control of the same value, as
// MultiByteToWideChar does.
inline constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Inline: the .reg reader widens every byte of an 8-bit file through it.
constexpr char16_t Windows1252ToUnicode(std::uint8_t byte) {
  return (byte >= 0x80 && byte < 0xA0) ? kWindows1252High[byte - 0x80]
                                       : char16_t(byte);
}

// The byte for code point `c`, or -1 when the code page has none.
int UnicodeToWindows1252(char32_t c);

}  // namespace corvane::base
