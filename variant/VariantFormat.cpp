// Writing a Variant's value as text: floating point, scaled integers
// (currency, decimal) and dates, as the string conversion shows them.
#include "variant/VariantFormat.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "errors/RuntimeError.h"

namespace corvane {
namespace {

std::wstring Widen(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace

std::wstring FormatFloat(double value, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*G", digits, value);
  std::string s = buffer;
  const std::size_t e = s.find('E');
  if (e != std::string::npos) {
    // mingw's runtime writes three exponent digits; normalise to two or more.
    std::string mantissa = s.substr(0, e);
    const char sign = s[e + 1];
    std::string exponent = s.substr(e + 2);
    while (exponent.size() > 2 && exponent[0] == '0') exponent.erase(0, 1);
    s = mantissa + 'E' + sign + exponent;
  }
  return Widen(s);
}

std::wstring FormatScaled(std::int64_t m, unsigned scale) {
  const bool negative = m < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(m)
                                     : static_cast<std::uint64_t>(m);
  std::string digits = std::to_string(magnitude);
  if (scale > 0) {
    if (digits.size() <= scale)
      digits = std::string(scale + 1 - digits.size(), '0') + digits;
    const std::size_t point = digits.size() - scale;
    digits = digits.substr(0, point) + '.' + digits.substr(point);
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  if (negative && digits != "0") digits = '-' + digits;
  return Widen(digits);
}

std::wstring FormatDate(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 2958466.0) {
    RaiseRuntimeError(kOverflow);
  }
  const double dayPart = std::trunc(value);
  // A negative date counts days back, but its time still runs forward.
  long long seconds = std::llround(std::fabs(value - dayPart) * 86400.0);
  long long days = static_cast<long long>(dayPart);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += value < 0 ? -1 : 1;
  }
  std::string out;
  if (days != 0 || seconds == 0) {
    // Civil date from a day count (proleptic Gregorian), epoch 1899-12-30.
    const long long z = days - 25569 + 719468;  // days since 0000-03-01
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    out = std::to_string(m) + "/" + std::to_string(d) + "/" + std::to_string(y);
  }
  if (seconds != 0) {
    const long long h = seconds / 3600;
    const long long h12 = h % 12 == 0 ? 12 : h % 12;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld %s", h12,
                  (seconds / 60) % 60, seconds % 60, h < 12 ? "AM" : "PM");
    if (!out.empty()) out += ' ';
    out += buffer;
  }
  return Widen(out);
}

}  // namespace corvane
