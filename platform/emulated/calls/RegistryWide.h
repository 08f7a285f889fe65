// The registry's wide functions with Windows' own WCHAR: names in UTF-16
// units, string data as UTF-16LE bytes, two a unit, exactly as the store
// keeps them. They are the emulation's core: the public W functions of
// Platform.h are the same code over wchar_t, and the ANSI functions are
// conversions over these, as Windows' ANSI functions are over its wide ones.
// Each is declared from Platform.h's list, with the Win32 W function's name,
// arguments and answers, its text in char16_t.
#pragma once

#include "platform/Platform.h"

namespace corvane::platform::emulated::utf16 {

using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;

CORVANE_REGISTRY_FUNCTIONS(CORVANE_REGISTRY_SKIPPED,
                           CORVANE_REGISTRY_DECLARATION)

}  // namespace corvane::platform::emulated::utf16
