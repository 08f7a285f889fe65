// Registry data as corvane-reg shows and reads it: type names, the one-line
// display of a value and the parsing of /d. Data is always in the form the
// registry stores and a .reg file carries: strings in UTF-16LE.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ValueTypes.h"
#include "platform/Platform.h"

namespace corvane::cli {

// The types whose data the wide functions exchange in wchar_t units.
using base::IsStringType;

using Bytes = std::vector<std::uint8_t>;

// "REG_SZ" and so on; a type without a name shows as its number, "0x20".
std::wstring TypeName(platform::DWORD type);
// The types a value can be added with (any case); nothing for another name.
std::optional<platform::DWORD> AddableType(std::wstring_view name);

// The data as reg query prints it after the type.
std::wstring FormatData(platform::DWORD type,
                        std::span<const std::uint8_t> data);

// The data of `add /d text` for `type`. For
// REG_MULTI_SZ `separator` splits the strings (reg's default is the two
// characters \0). On failure, nothing and `error` says what is wrong.
std::optional<Bytes> ParseData(platform::DWORD type, std::wstring_view text,
                               std::wstring_view separator,
                               std::wstring& error);

}  // namespace corvane::cli
