// Key paths as corvane-reg takes them: a root (HKLM, HKCU, HKCR, HKU, HKCC or
// their long forms, in any case) and a path below it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace corvane::cli {

struct KeyPath {
  platform::HKEY root = 0;
  std::wstring rootName;  // always the long form: HKEY_CURRENT_USER
  std::wstring subKey;    // as typed, without trailing backslashes; may be ""
  // The registry view /reg:32 or /reg:64 asked for (KEY_WOW64_32KEY or
  // KEY_WOW64_64KEY), 0 for the program's own.
  platform::REGSAM view = 0;

  // The path as reg prints it: long root name, then the rest as typed.
  std::wstring Display() const;
};

// Nothing for an unknown root, a remote key (\\machine\...) or an empty text.
std::optional<KeyPath> ParseKeyPath(std::wstring_view text);

}  // namespace corvane::cli
