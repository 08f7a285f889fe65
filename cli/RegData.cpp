// Type names, display and /d parsing of registry data.
#include "cli/RegData.h"

#include <array>
#include <cwchar>
#include <limits>

#include "base/AsciiCase.h"
#include "base/Unicode.h"

namespace corvane::cli {

using namespace platform;

namespace {

constexpr std::array<const wchar_t*, 12> kTypeNames = {
    L"REG_NONE",
    L"REG_SZ",
    L"REG_EXPAND_SZ",
    L"REG_BINARY",
    L"REG_DWORD",
    L"REG_DWORD_BIG_ENDIAN",
    L"REG_LINK",
    L"REG_MULTI_SZ",
    L"REG_RESOURCE_LIST",
    L"REG_FULL_RESOURCE_DESCRIPTOR",
    L"REG_RESOURCE_REQUIREMENTS_LIST",
    L"REG_QWORD"};

std::wstring Hex(std::uint64_t n) {
  wchar_t buffer[24];
  std::swprintf(buffer, 24, L"0x%llx", static_cast<unsigned long long>(n));
  return buffer;
}

std::wstring HexBytes(std::span<const std::uint8_t> data) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring out;
  out.reserve(data.size() * 2);
  for (std::uint8_t b : data) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

// Stored text: UTF-16LE, an odd last byte being half a character with
// nothing to show.
std::wstring StoredText(std::span<const std::uint8_t> data) {
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return base::Utf16ToWide(units);
}

void AppendStored(Bytes& bytes, std::wstring_view text) {
  for (char16_t unit : base::WideToUtf16(text)) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
}

void AppendNul(Bytes& bytes) { bytes.insert(bytes.end(), {0, 0}); }

// Little-endian, as far as the bytes go: a short value is zero-extended, a
// long one read from its start.
std::uint64_t LittleEndian(std::span<const std::uint8_t> data,
                           std::size_t width) {
  std::uint64_t n = 0;
  for (std::size_t i = 0; i < width && i < data.size(); ++i) {
    n |= std::uint64_t{data[i]} << (8 * i);
  }
  return n;
}

// Decimal, or hexadecimal after 0x; leading blanks allowed, nothing after.
std::optional<std::uint64_t> ParseNumber(std::wstring_view text,
                                         std::uint64_t max) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  unsigned base = 10;
  if (text.size() - i > 2 && text[i] == L'0' &&
      (text[i + 1] == L'x' || text[i + 1] == L'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;
  std::uint64_t n = 0;
  for (; i < text.size(); ++i) {
    const wchar_t c = text[i];
    unsigned digit;
    if (c >= L'0' && c <= L'9') {
      digit = c - L'0';
    } else if (base == 16 && c >= L'a' && c <= L'f') {
      digit = c - L'a' + 10;
    } else if (base == 16 && c >= L'A' && c <= L'F') {
      digit = c - L'A' + 10;
    } else {
      return std::nullopt;
    }
    if (n > (max - digit) / base) return std::nullopt;
    n = n * base + digit;
  }
  return n;
}

}  // namespace

std::wstring TypeName(DWORD type) {
  return type < kTypeNames.size() ? kTypeNames[type] : Hex(type);
}

std::optional<DWORD> AddableType(std::wstring_view name) {
  static constexpr std::array<DWORD, 8> kAddable = {
      REG_SZ,    REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD,
      REG_QWORD, REG_BINARY,   REG_NONE,      REG_DWORD_BIG_ENDIAN};
  const std::wstring upper = base::AsciiUpper(name);
  if (upper == L"REG_DWORD_LITTLE_ENDIAN") return REG_DWORD;
  for (DWORD type : kAddable) {
    if (upper == kTypeNames[type]) return type;
  }
  return std::nullopt;
}

std::wstring FormatData(DWORD type, std::span<const std::uint8_t> data) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::wstring text = StoredText(data);
      return text.substr(0, text.find(L'\0'));
    }
    case REG_MULTI_SZ: {
      std::wstring text = StoredText(data);
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      std::wstring out;
      for (wchar_t c : text) {
        if (c == L'\0') {
          out += L"\\0";
        } else {
          out.push_back(c);
        }
      }
      return out;
    }
    case REG_DWORD:
      return Hex(LittleEndian(data, 4));
    case REG_DWORD_BIG_ENDIAN: {
      std::uint64_t n = 0;
      for (std::size_t i = 0; i < 4 && i < data.size(); ++i) {
        n = (n << 8) | data[i];
      }
      return Hex(n);
    }
    case REG_QWORD:
      return Hex(LittleEndian(data, 8));
    default:
      return HexBytes(data);
  }
}

std::optional<Bytes> ParseData(DWORD type, std::wstring_view text,
                               std::wstring_view separator,
                               std::wstring& error) {
  switch (type) {
    // reg stores the text of a REG_NONE as it stores a string's.
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_NONE: {
      Bytes bytes;
      AppendStored(bytes, text);
      AppendNul(bytes);
      return bytes;
    }
    case REG_MULTI_SZ: {
      // Empty strings can't be stored: the first one ends the list. Only a
      // trailing separator is forgiven, and a lone one is the empty list.
      Bytes bytes;
      if (text == separator) text = {};
      std::size_t start = 0;
      while (start < text.size()) {
        const std::size_t end = text.find(separator, start);
        const std::wstring_view part = text.substr(start, end - start);
        if (part.empty()) {
          error =
              L"Invalid syntax. Specify a list of non-empty strings for "
              L"'/d'.";
          return std::nullopt;
        }
        AppendStored(bytes, part);
        AppendNul(bytes);
        if (end == std::wstring_view::npos) break;
        start = end + separator.size();
      }
      AppendNul(bytes);
      return bytes;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD: {
      const bool wide = type == REG_QWORD;
      // A REG_QWORD without data is 0, and a negative decimal one is taken
      // modulo 2^64, as reg takes them; a REG_DWORD must be given and can't
      // be negative.
      const bool negative = wide && text.starts_with(L'-');
      const std::wstring_view digits = negative ? text.substr(1) : text;
      const bool hex = digits.starts_with(L"0x") || digits.starts_with(L"0X");
      auto n =
          wide && text.empty()
              ? std::optional<std::uint64_t>(0)
              : ParseNumber(digits,
                            wide ? std::numeric_limits<std::uint64_t>::max()
                                 : std::numeric_limits<std::uint32_t>::max());
      if (negative && hex) n.reset();
      if (n && negative) n = 0 - *n;
      if (!n) {
        error = L"Invalid syntax. Specify a valid numeric value for '/d'.";
        return std::nullopt;
      }
      const std::size_t size = wide ? 8 : 4;
      std::array<std::uint8_t, 8> laid{};
      for (std::size_t i = 0; i < size; ++i) {
        const std::size_t shift =
            type == REG_DWORD_BIG_ENDIAN ? 8 * (3 - i) : 8 * i;
        laid[i] = static_cast<std::uint8_t>(*n >> shift);
      }
      return Bytes(laid.begin(), laid.begin() + size);
    }
    default: {
      // Hexadecimal digits; an odd count has an implied leading 0.
      Bytes bytes;
      std::size_t i = text.size() % 2;
      unsigned pending = 0;
      for (wchar_t c : text) {
        unsigned digit;
        if (c >= L'0' && c <= L'9') {
          digit = c - L'0';
        } else if (c >= L'a' && c <= L'f') {
          digit = c - L'a' + 10;
        } else if (c >= L'A' && c <= L'F') {
          digit = c - L'A' + 10;
        } else {
          error =
              L"Invalid syntax. Specify a valid hexadecimal value for '/d'.";
          return std::nullopt;
        }
        pending = (pending << 4) | digit;
        if (++i % 2 == 0) {
          bytes.push_back(static_cast<std::uint8_t>(pending));
          pending = 0;
        }
      }
      return bytes;
    }
  }
}

}  // namespace corvane::cli
