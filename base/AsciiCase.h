// ASCII-only case folding, for text whose vocabulary is ASCII: command
// words, options, type and root names. Registry names fold more widely
// (RegistryNames.h).
#pragma once

#include <string>
#include <string_view>

namespace corvane::base {

inline std::wstring AsciiUpper(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return out;
}

}  // namespace corvane::base
