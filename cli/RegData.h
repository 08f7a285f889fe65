// Registry data as corvane-reg shows, reads and files it: type names, the
// one-line display of a value, the parsing of /d, and the conversion between
// the bytes the registry's ANSI functions exchange (strings in the code page)
// and the bytes of a .reg file (strings in UTF-16LE).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace corvane::cli {

using Bytes = std::vector<std::uint8_t>;

// "REG_SZ" and so on; a type without a name shows as its number, "0x20".
std::wstring TypeName(platform::DWORD type);
// The types a value can be added with (any case); nothing for another name.
std::optional<platform::DWORD> AddableType(std::wstring_view name);

// The data as reg query prints it after the type.
std::wstring FormatData(platform::DWORD type,
                        std::span<const std::uint8_t> data);

// The data of `add /d text` for `type`, in the ANSI functions' form. For
// REG_MULTI_SZ `separator` splits the strings (reg's default is the two
// characters \0). On failure, nothing and `error` says what is wrong.
std::optional<Bytes> ParseData(platform::DWORD type, std::wstring_view text,
                               std::wstring_view separator,
                               std::wstring& error);

// String types carry text, the rest raw bytes.
bool IsStringType(platform::DWORD type);
Bytes ToFileForm(platform::DWORD type, std::span<const std::uint8_t> data);
Bytes FromFileForm(platform::DWORD type, std::span<const std::uint8_t> data);

}  // namespace corvane::cli
