// The predefined root keys by name: the long names Windows prints and the
// abbreviations reg and .reg files accept, matched in any case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::base {

struct RootKey {
  std::uint32_t value;            // 0x80000000 (HKEY_CLASSES_ROOT) and up
  std::string_view name;          // HKEY_LOCAL_MACHINE; NUL-terminated
  std::string_view abbreviation;  // HKLM; "" for the two reg doesn't take
};

// HKEY_CLASSES_ROOT to HKEY_DYN_DATA, in order of value.
inline constexpr RootKey kRootKeys[] = {
    {0x80000000u, "HKEY_CLASSES_ROOT", "HKCR"},
    {0x80000001u, "HKEY_CURRENT_USER", "HKCU"},
    {0x80000002u, "HKEY_LOCAL_MACHINE", "HKLM"},
    {0x80000003u, "HKEY_USERS", "HKU"},
    {0x80000004u, "HKEY_PERFORMANCE_DATA", ""},
    {0x80000005u, "HKEY_CURRENT_CONFIG", "HKCC"},
    {0x80000006u, "HKEY_DYN_DATA", ""},
};

// The root named `name` by its long name or its abbreviation, ASCII letters
// in any case; nullptr for anything else.
const RootKey* FindRootKey(std::u16string_view name);
const RootKey* FindRootKey(std::wstring_view name);
// The root with that value; nullptr for any other value.
const RootKey* RootKeyOf(std::uint32_t value);

}  // namespace corvane::base
