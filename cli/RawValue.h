// The only registry calls corvane-reg makes itself, outside the object model.
// A CRegItem gives a value as a Variant, which keeps neither the value's type
// nor its exact bytes (a REG_EXPAND_SZ comes back expanded, a REG_DWORD of
// another size than 4 comes back cut or padded). Showing a value as reg does,
// and exporting it byte for byte, needs both; so does storing the types the
// codec doesn't write (REG_MULTI_SZ, REG_QWORD, REG_NONE, ...).
#pragma once

#include <cstdint>
#include <string>

#include "cli/RegData.h"
#include "platform/Platform.h"

namespace corvane::cli {

struct RawValue {
  platform::DWORD type = platform::REG_NONE;
  Bytes data;  // as the ANSI functions give it: strings in the code page
};

// The value `name` of `hKey`. Answers the registry's status (2 when there is
// no such value); `value` is set only on success.
platform::LONG ReadRawValue(platform::HKEY hKey, const std::wstring& name,
                            RawValue& value);

// The name of the value at `position`, for a value the object model can't
// read (it refuses a string value of no bytes at all).
platform::LONG RawValueNameAt(platform::HKEY hKey, platform::DWORD position,
                              std::wstring& name);

// Stores `value` as `name` exactly as given.
platform::LONG WriteRawValue(platform::HKEY hKey, const std::wstring& name,
                             const RawValue& value);

}  // namespace corvane::cli
