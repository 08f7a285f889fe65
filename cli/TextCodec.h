// Text helpers for corvane-reg's edges: the Unicode conversions (UTF-8 for
// the console and file names, UTF-16 for .reg files) and ASCII case folding.
#pragma once

#include <string>
#include <string_view>

#include "variant/Unicode.h"

namespace corvane::cli {

// The Unicode conversions are the model's own.
using corvane::Utf16ToWide;
using corvane::Utf8ToWide;
using corvane::WideToUtf16;
using corvane::WideToUtf8;

// ASCII-only case folding: registry names compare case-insensitively, and the
// command language (roots, options, type names) is ASCII.
std::wstring AsciiUpper(std::wstring_view text);

}  // namespace corvane::cli
