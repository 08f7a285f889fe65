// Reading a Variant's text: numbers (decimal, "&H" hex, "&O" octal) and
// the words True and False, as the string conversions take them.
#include "variant/VariantParse.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "base/HexDigits.h"
#include "errors/RuntimeError.h"

namespace corvane {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - L'a' + L'A');
    if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - L'a' + L'A');
    if (x != y) return false;
  }
  return true;
}

enum class Parse { kNumber, kNotANumber, kOutOfRange };

// "&H" hex and "&O" octal: up to 32 bits, the pattern read as signed, so
// "&HFFFFFFFF" is -1.
Parse ParseRadix(std::wstring_view digits, unsigned radix, double* out) {
  if (digits.empty()) return Parse::kNotANumber;
  std::uint64_t value = 0;
  for (wchar_t c : digits) {
    const unsigned d = base::HexDigitValue(c);
    if (d >= radix) return Parse::kNotANumber;
    value = value * radix + d;
    if (value > 0xFFFFFFFFu) return Parse::kOutOfRange;
  }
  *out = static_cast<double>(
      static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
  return Parse::kNumber;
}

// Roughly the power of ten of a validated number's leading digit: positive
// for values of 1 and above, negative for fractions.
long DecimalMagnitude(const std::string& ascii) {
  const std::size_t e = ascii.find('e');
  const std::string mantissa = ascii.substr(0, e);
  long exponent = 0;
  if (e != std::string::npos) {
    // Clamp: the digits only need to tell a large exponent from a small one.
    const char* p = ascii.c_str() + e + 1;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    for (; *p; ++p) exponent = std::min(exponent * 10 + (*p - '0'), 100000L);
    if (negative) exponent = -exponent;
  }
  const std::size_t point = mantissa.find('.');
  const std::string whole = mantissa.substr(0, point);
  const std::size_t firstWhole = whole.find_first_not_of("-0");
  if (firstWhole != std::string::npos) {
    return static_cast<long>(whole.size() - firstWhole) + exponent;
  }
  const std::string fraction =
      point == std::string::npos ? "" : mantissa.substr(point + 1);
  const std::size_t firstFraction = fraction.find_first_not_of('0');
  if (firstFraction == std::string::npos) return -100000;  // zero
  return exponent - static_cast<long>(firstFraction);
}

// Copies a decimal number's sign, digits, point and exponent to `ascii`,
// as from_chars reads them; false when `s` is not one whole number.
bool DecimalAsAscii(std::wstring_view s, std::string& ascii) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) {
    if (s[i] == L'-') ascii += '-';
    ++i;
  }
  std::size_t digits = 0;
  auto takeDigits = [&] {
    while (i < s.size() && s[i] >= L'0' && s[i] <= L'9') {
      ascii += static_cast<char>(s[i++]);
      ++digits;
    }
  };
  takeDigits();
  if (i < s.size() && s[i] == L'.') {
    ascii += '.';
    ++i;
    takeDigits();
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == L'e' || s[i] == L'E')) {
    ascii += 'e';
    ++i;
    if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) {
      ascii += static_cast<char>(s[i++]);
    }
    digits = 0;
    takeDigits();
    if (digits == 0) return false;
  }
  return i == s.size();
}

// A number as text: blanks around it, an optional sign, digits with an
// optional decimal point and an optional exponent. Deliberately narrower
// than strtod: no "inf", "nan" or C hex floats, and no locale.
Parse ParseNumber(std::wstring_view text, double* out) {
  std::wstring_view s = Trim(text);
  if (s.size() >= 2 && s[0] == L'&') {
    if (s[1] == L'H' || s[1] == L'h') return ParseRadix(s.substr(2), 16, out);
    if (s[1] == L'O' || s[1] == L'o') return ParseRadix(s.substr(2), 8, out);
    return Parse::kNotANumber;
  }
  std::string ascii;
  if (!DecimalAsAscii(s, ascii)) return Parse::kNotANumber;
  double value = 0;
  const auto [end, ec] =
      std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // from_chars doesn't say which way it fell out of range. Underflow is a
    // number too small to matter; overflow is out of range.
    *out = 0.0;
    return DecimalMagnitude(ascii) > 0 ? Parse::kOutOfRange : Parse::kNumber;
  }
  if (ec != std::errc() || end != ascii.data() + ascii.size()) {
    return Parse::kNotANumber;
  }
  *out = value;
  return Parse::kNumber;
}

}  // namespace

double StringToDouble(const std::wstring& s) {
  double value = 0;
  switch (ParseNumber(s, &value)) {
    case Parse::kNumber:
      return value;
    case Parse::kOutOfRange:
      RaiseRuntimeError(kOverflow);
    case Parse::kNotANumber:
      break;
  }
  RaiseRuntimeError(kTypeMismatch);
}

std::optional<bool> TruthWord(std::wstring_view text) {
  const std::wstring_view s = Trim(text);
  if (EqualsNoCase(s, L"True")) return true;
  if (EqualsNoCase(s, L"False")) return false;
  return std::nullopt;
}

}  // namespace corvane
