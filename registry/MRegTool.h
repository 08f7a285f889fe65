// MRegTool: the value codec between registry data and Variant values, and the
// key-tree routines (subkey name by position, deletion with or without the
// subtree). Every routine returns the status of its registry calls, or of a
// name or text that failed to convert to or from the code page (1113), and
// raises nothing for them; only the codec's own errors (5, 6, 9) are raised.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "variant/Variant.h"

namespace corvane::MRegTool {

using platform::HKEY;

// Reads the value `sName` of `hKey` into `vValue`. A value that can't be
// sized (missing, bad handle, denied) answers 0 with `vValue` untouched; a
// name that can't be converted is not looked for and answers its status.
// `sName` is set again from its ANSI form after each registry call.
// A 32-bit type stored with a size other than 4 reads as its first four
// bytes (a short one zero-filled above); the data query is offered room for
// the whole value, never just the field. A string is the text the data query
// delivered, less one terminating NUL if it has one; a string type of size 0
// raises 5.
std::int32_t ReadValue(HKEY hKey, std::wstring& sName, Variant& vValue);
// Reads the value at position `iIndex` (0 first) with its stored name.
std::int32_t ReadValueAt(HKEY hKey, const std::int32_t& iIndex,
                         std::wstring& sName, Variant& vValue);
// Stores `vValue` as `sName`: integers as REG_DWORD, strings as REG_SZ or
// REG_EXPAND_SZ, byte arrays as REG_BINARY; 13 for any other kind.
std::int32_t WriteValue(const Variant& vValue, HKEY hKey, std::wstring& sName);

// The four bytes of n in reverse order.
std::int32_t SwapLong(std::int32_t n);
// The text up to its first NUL character.
std::wstring CutAtNul(const std::wstring& sText);
// The text with %NAME% references expanded; undefined ones stay as written.
// Text that can't be converted to or from the code page raises its status.
std::wstring ExpandEnvStrings(std::wstring& sText);

// The name of the subkey at position `iIndex` of `hKey`, into `sName`.
std::int32_t EnumKeyName(HKEY hKey, const std::int32_t& iIndex,
                         std::wstring& sName);
// Deletes the subkey `sName` of `hKey`; refuses one with subkeys (5) on both
// families. On the 95 family, where the system's delete would take the
// subtree with it, a key whose subkeys can't be counted is refused as well,
// with the status of the failed open or count.
std::int32_t RemoveKey(HKEY hKey, const std::wstring& sName);
// Deletes the subkey `sName` of `hKey` with everything below it.
std::int32_t RemoveKeyTree(HKEY hKey, const std::wstring& sName);

namespace detail {
// EnumKeyName over any function shaped like RegEnumKeyExA, so that tests can
// drive its buffer growth, which real key names (at most 255 characters)
// never need.
using EnumKeyFunction = platform::LONG (*)(HKEY, platform::DWORD, char*,
                                           platform::DWORD*, platform::DWORD*,
                                           char*, platform::DWORD*,
                                           platform::FILETIME*);
std::int32_t EnumKeyNameWith(EnumKeyFunction enumKey, HKEY hKey,
                             const std::int32_t& iIndex, std::wstring& sName);
}  // namespace detail

}  // namespace corvane::MRegTool
