// Unicode conversions for corvane-reg's edges: UTF-8 for the Linux console
// and for file names, UTF-16LE for the .reg file format. wchar_t is UTF-32 on
// Linux and UTF-16 on Windows; both are handled.
#pragma once

#include <string>
#include <string_view>

namespace corvane::cli {

// Malformed input becomes U+FFFD rather than failing: these carry text a user
// typed or a file held, and a mangled character beats a refused command.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
std::wstring Utf16ToWide(std::u16string_view text);
std::u16string WideToUtf16(std::wstring_view text);

// ASCII-only case folding: registry names compare case-insensitively, and the
// command language (roots, options, type names) is ASCII.
std::wstring AsciiUpper(std::wstring_view text);

}  // namespace corvane::cli
