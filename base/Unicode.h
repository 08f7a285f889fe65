// Unicode conversions for text that leaves the program: UTF-8 for consoles,
// logs, messages and file names, UTF-16 for the registry's stored form and
// the .reg format. wchar_t is UTF-32 on Linux and UTF-16 on Windows; both
// are handled. (The ANSI functions' text goes through the platform's code
// page instead.)
#pragma once

#include <string>
#include <string_view>

namespace corvane::base {

constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c < 0xDC00; }
constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c < 0xE000; }
constexpr bool IsSurrogate(char32_t c) { return c >= 0xD800 && c < 0xE000; }
constexpr char32_t CombineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Malformed UTF-8 becomes U+FFFD rather than failing: a mangled character
// beats a refused command or a lost message. A lone surrogate in UTF-16 or
// wide text passes through (the registry stores them) and is written to
// UTF-8 as its three-byte form, so that a name holding one still shows.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
std::wstring Utf16ToWide(std::u16string_view text);
std::u16string WideToUtf16(std::wstring_view text);
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// One code point onto UTF-16 text: a pair beyond the BMP, U+FFFD beyond
// Unicode, anything else (a lone surrogate too) as itself.
void AppendUtf16(std::u16string& out, char32_t c);

}  // namespace corvane::base
