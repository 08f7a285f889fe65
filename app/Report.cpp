// Formatting of the one error report the repair can make.
#include "app/Report.h"

#include <cstdint>
#include <cstdio>

namespace corvane::app {

std::wstring FailureText(const RaisedError& error) {
  char head[64];
  std::snprintf(
      head, sizeof head,
      "Run-time error '%d (%08X)':", static_cast<int>(error.Number()),
      static_cast<unsigned>(static_cast<std::uint32_t>(error.Number())));
  std::wstring text(head, head + std::char_traits<char>::length(head));
  return text + L"\n\n" + error.Description();
}

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(text[i]);
    // Joins a UTF-16 surrogate pair where wchar_t is 16 bits wide.
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      const auto low = static_cast<std::uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
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

}  // namespace corvane::app
