// Text helpers for corvane-reg's edges: the Unicode conversions (UTF-8 for
// the console and file names, UTF-16 for .reg files) and ASCII case folding.
#pragma once

#include <string>
#include <string_view>

#include "base/Unicode.h"

namespace corvane::cli {

// The Unicode conversions are the base layer's.
using base::Utf16ToWide;
using base::Utf8ToWide;
using base::WideToUtf16;
using base::WideToUtf8;

// ASCII-only case folding: registry names compare case-insensitively, and the
// command language (roots, options, type names) is ASCII.
std::wstring AsciiUpper(std::wstring_view text);

}  // namespace corvane::cli
