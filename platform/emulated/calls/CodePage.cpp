// The emulated ANSI code page: Windows-1252. Bytes 0x00-0x7F and 0xA0-0xFF
// are their own code points; 0x80-0x9F carry the typographic characters
// Windows puts there, and the five bytes it leaves undefined map to the C1
// control of the same value, as MultiByteToWideChar does. A character
// outside the code page becomes "?" (no best-fit guessing: a wrong letter is
// worse than an obvious placeholder). It is the only code page the emulation
// has: asked for another, the conversions answer 87, as Windows does for a
// code page that isn't installed.
#include <atomic>
#include <string>
#include <string_view>

#include "base/Unicode.h"
#include "base/Windows1252.h"
#include "platform/Platform.h"
#include "platform/emulated/TestHooks.h"

namespace corvane::platform {
namespace {

// The byte for code point c, or '?' when the code page has none.
char EncodeOne(char32_t c) {
  const int byte = base::UnicodeToWindows1252(c);
  return byte < 0 ? '?' : static_cast<char>(byte);
}

constexpr DWORD kWindows1252 = 1252;

bool IsKnown(DWORD codePage) {
  return codePage == CP_ACP || codePage == kWindows1252;
}

// See SetUntranslatable; 0 is "none".
std::atomic<wchar_t> untranslatable{0};

}  // namespace

LONG WideToAnsi(std::wstring_view text, std::string& out, DWORD codePage) {
  out.clear();
  if (!IsKnown(codePage)) return ERROR_INVALID_PARAMETER;
  const wchar_t refused = untranslatable.load();
  if (codePage == CP_ACP && refused != 0 &&
      text.find(refused) != std::wstring_view::npos) {
    return ERROR_NO_UNICODE_TRANSLATION;
  }
  out = WideToAnsi(text);
  return ERROR_SUCCESS;
}

LONG AnsiToWide(std::string_view text, std::wstring& out, DWORD codePage) {
  out.clear();
  if (!IsKnown(codePage)) return ERROR_INVALID_PARAMETER;
  out = AnsiToWide(text);
  return ERROR_SUCCESS;
}

std::string WideToAnsi(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = static_cast<char32_t>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    // With 16-bit wchar_t a character beyond the BMP is two units; it is one
    // character, so it becomes one "?".
    if (sizeof(wchar_t) == 2 && base::IsHighSurrogate(c) &&
        i + 1 < text.size() &&
        base::IsLowSurrogate(static_cast<char32_t>(text[i + 1]))) {
      ++i;
      out += '?';
      continue;
    }
    out += EncodeOne(c);
  }
  return out;
}

std::wstring AnsiToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    out += byte < 0x80 ? static_cast<wchar_t>(byte)
                       : static_cast<wchar_t>(base::Windows1252ToUnicode(byte));
  }
  return out;
}

namespace emulated {

void SetUntranslatable(wchar_t c) { untranslatable.store(c); }

}  // namespace emulated
}  // namespace corvane::platform
