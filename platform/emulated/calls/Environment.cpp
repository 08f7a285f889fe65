// The process environment for the emulated KERNEL32 and registry functions
// (Environment.h).
#include "platform/emulated/calls/Environment.h"

#include <cstdlib>
#include <cstring>

#include "base/Unicode.h"
#include "platform/Platform.h"

extern "C" char** environ;  // NOLINT: POSIX declares it only in <unistd.h>

namespace corvane::platform::emulated {
namespace {

// Windows compares variable names in uppercase; names are ASCII in practice.
bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? c - 32 : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t extra = b < 0x80             ? 0
                              : (b & 0xE0) == 0xC0 ? 1
                              : (b & 0xF0) == 0xE0 ? 2
                              : (b & 0xF8) == 0xF0 ? 3
                                                   : 4;
    if (extra == 4 || s.size() - i - 1 < extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra;
  }
  return true;
}

// Bytes that aren't UTF-8 are passed on as they are rather than guessed at.
std::wstring Decode(std::string_view raw) {
  return IsUtf8(raw) ? base::Utf8ToWide(raw) : AnsiToWide(raw);
}

}  // namespace

// The Linux environment is case-sensitive, so an exact match wins and any
// other case is the fallback.
bool FindVariable(std::wstring_view name, std::wstring& value) {
  if (name.empty()) return false;
  const char* found = std::getenv(base::WideToUtf8(name).c_str());
  for (char** entry = environ; found == nullptr && entry && *entry; ++entry) {
    const char* eq = std::strchr(*entry, '=');
    if (eq != nullptr &&
        EqualsNoCase(Decode(std::string_view(
                         *entry, static_cast<std::size_t>(eq - *entry))),
                     name)) {
      found = eq + 1;
    }
  }
  if (found == nullptr) return false;
  value = Decode(found);
  return true;
}

std::wstring ExpandVariables(std::wstring_view src) {
  std::wstring out;
  for (std::size_t i = 0; i < src.size();) {
    if (src[i] != L'%') {
      out += src[i++];
      continue;
    }
    const std::size_t close = src.find(L'%', i + 1);
    if (close == std::wstring_view::npos) {
      // A lone percent sign: the rest is literal.
      out.append(src.substr(i));
      break;
    }
    // A name that isn't defined stays as written, both percent signs
    // included, and scanning goes on after it.
    std::wstring value;
    if (FindVariable(src.substr(i + 1, close - i - 1), value)) {
      out += value;
    } else {
      out.append(src.substr(i, close - i + 1));
    }
    i = close + 1;
  }
  return out;
}

}  // namespace corvane::platform::emulated
