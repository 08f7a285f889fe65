// Unicode conversions between UTF-8, UTF-16 and the platform's wchar_t
// (UTF-32 on Linux, UTF-16 on Windows): one decoder and one encoder per
// direction, shared by every pair of forms.
#include "base/Unicode.h"

namespace corvane::base {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Code points out of a wide string, pairing surrogates where wchar_t is
// 16 bits and passing lone ones through (the registry stores them).
template <typename Unit, typename Sink>
void ForEachCodePoint(std::basic_string_view<Unit> text, Sink sink) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(Unit) == 2) {
      c &= 0xFFFF;
      if (IsHighSurrogate(c) && i + 1 < text.size()) {
        const char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
        if (IsLowSurrogate(low)) {
          c = CombineSurrogates(c, low);
          ++i;
        }
      }
    }
    sink(c);
  }
}

template <typename Unit>
void AppendCodePoint(std::basic_string<Unit>& out, char32_t c) {
  if constexpr (sizeof(Unit) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<Unit>(0xD800 + (c >> 10)));
      out.push_back(static_cast<Unit>(0xDC00 + (c & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<Unit>(c));
}

template <typename Unit>
std::basic_string<Unit> FromUtf8(std::string_view text) {
  std::basic_string<Unit> out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    // 0xC0, 0xC1 and 0xF5 and up can only start what is overlong or
    // beyond Unicode.
    int extra = lead < 0x80    ? 0
                : lead >= 0xF5 ? -1
                : lead >= 0xF0 ? 3
                : lead >= 0xE0 ? 2
                : lead >= 0xC2 ? 1
                               : -1;
    char32_t c = extra == 0   ? lead
                 : extra == 1 ? lead & 0x1F
                 : extra == 2 ? lead & 0x0F
                              : lead & 0x07;
    std::size_t j = i + 1;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= text.size() ||
          (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
        extra = -1;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
    }
    const bool overlong = (extra == 2 && c < 0x800) ||
                          (extra == 3 && (c < 0x10000 || c > 0x10FFFF));
    if (extra < 0 || overlong) {
      AppendCodePoint(out, kReplacement);
      ++i;
      continue;
    }
    AppendCodePoint(out, c);
    i = j;
  }
  return out;
}

template <typename Unit>
std::string ToUtf8(std::basic_string_view<Unit> text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t c) {
    if (c > 0x10FFFF) c = kReplacement;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      // A lone surrogate is written as its three-byte form, so that a name
      // holding one still shows as something.
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  });
  return out;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
  return FromUtf8<wchar_t>(text);
}
std::u16string Utf8ToUtf16(std::string_view text) {
  return FromUtf8<char16_t>(text);
}
std::string WideToUtf8(std::wstring_view text) { return ToUtf8(text); }
std::string Utf16ToUtf8(std::u16string_view text) { return ToUtf8(text); }

std::wstring Utf16ToWide(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t c) { AppendCodePoint(out, c); });
  return out;
}

void AppendUtf16(std::u16string& out, char32_t c) {
  AppendCodePoint(out, c > 0x10FFFF ? kReplacement : c);
}

std::u16string WideToUtf16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t c) {
    AppendCodePoint(out, c > 0x10FFFF ? kReplacement : c);
  });
  return out;
}

}  // namespace corvane::base
