// The process environment for the emulated KERNEL32 and registry functions
// (Environment.h).
#include "platform/emulated/Environment.h"

#include <cstdlib>
#include <cstring>

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

std::wstring FromUtf8(std::string_view s) {
  std::wstring out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    char32_t c;
    std::size_t extra;
    if (b < 0x80) {
      c = b, extra = 0;
    } else if ((b >> 5) == 6) {
      c = b & 0x1F, extra = 1;
    } else if ((b >> 4) == 14) {
      c = b & 0x0F, extra = 2;
    } else {
      c = b & 0x07, extra = 3;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    i += extra + 1;
    if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}

std::string ToUtf8(std::wstring_view s) {
  std::string out;
  for (const wchar_t unit : s) {
    const auto c = static_cast<char32_t>(unit);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Bytes that aren't UTF-8 are passed on as they are rather than guessed at.
std::wstring Decode(std::string_view raw) {
  return IsUtf8(raw) ? FromUtf8(raw) : AnsiToWide(raw);
}

}  // namespace

// The Linux environment is case-sensitive, so an exact match wins and any
// other case is the fallback.
bool FindVariable(std::wstring_view name, std::wstring& value) {
  if (name.empty()) return false;
  const char* found = std::getenv(ToUtf8(name).c_str());
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
