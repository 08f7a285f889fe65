// Unicode conversions for text that leaves the program: UTF-8 for consoles,
// logs and file names, UTF-16 for the .reg format. wchar_t is UTF-32 on Linux
// and UTF-16 on Windows; both are handled. (The registry's own text goes
// through the platform's ANSI code page instead.)
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Malformed input becomes U+FFFD rather than failing: a mangled character
// beats a refused command or a lost message.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
std::wstring Utf16ToWide(std::u16string_view text);
std::u16string WideToUtf16(std::wstring_view text);

}  // namespace corvane
