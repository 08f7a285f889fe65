// The Variant value: construction, kind tests, conversions and arrays.
// Arrays are copied with the value that holds them, so two Variants never
// share elements.
#include "variant/Variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>
#include <utility>

#include "base/HexDigits.h"
#include "errors/RuntimeError.h"

namespace corvane {

struct Variant::ArrayData {
  VarType elementType = VT_EMPTY;
  std::vector<ArrayBound> bounds;
  // Exactly one of these holds the elements, by element type.
  std::vector<std::uint8_t> bytes;
  std::vector<std::wstring> strings;
  std::vector<Variant> others;
};

namespace {

constexpr std::int64_t kCurrencyScale = 10000;

// Rounds to the nearest integer, a tie to the even one, whatever the
// floating-point environment's rounding mode is.
double RoundHalfEven(double x) {
  const double floor = std::floor(x);
  const double diff = x - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1.0;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::int32_t DoubleToLong(double x) {
  if (std::isnan(x)) RaiseRuntimeError(kOverflow);
  const double r = RoundHalfEven(x);
  if (r < -2147483648.0 || r > 2147483647.0) RaiseRuntimeError(kOverflow);
  return static_cast<std::int32_t>(r);
}

// m / divisor rounded half to even; divisor > 0.
std::int64_t DivideHalfEven(std::int64_t m, std::uint64_t divisor) {
  const bool negative = m < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(m)
                                           : static_cast<std::uint64_t>(m);
  std::uint64_t q = magnitude / divisor;
  const std::uint64_t r = magnitude % divisor;
  const std::uint64_t rest = divisor - r;  // compare r with divisor/2 exactly
  if (r > rest || (r == rest && (q & 1) != 0)) ++q;
  // q <= 2^63 here; only -2^63 itself reaches it and maps back exactly.
  return negative ? static_cast<std::int64_t>(0 - q)
                  : static_cast<std::int64_t>(q);
}

// 10^scale, or 0 when it doesn't fit in 64 bits.
std::uint64_t PowerOfTen(unsigned scale) {
  if (scale > 19) return 0;
  std::uint64_t p = 1;
  for (unsigned i = 0; i < scale; ++i) p *= 10;
  return p;
}

std::int32_t Int64ToLong(std::int64_t v) {
  if (v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max()) {
    RaiseRuntimeError(kOverflow);
  }
  return static_cast<std::int32_t>(v);
}

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
  if (digits == 0) return Parse::kNotANumber;
  if (i < s.size() && (s[i] == L'e' || s[i] == L'E')) {
    ascii += 'e';
    ++i;
    if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) {
      ascii += static_cast<char>(s[i++]);
    }
    digits = 0;
    takeDigits();
    if (digits == 0) return Parse::kNotANumber;
  }
  if (i != s.size()) return Parse::kNotANumber;
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

std::wstring Widen(const std::string& s) { return {s.begin(), s.end()}; }

// Floating point as the string conversion shows it: the shortest of fixed
// and scientific form at 15 (double) or 7 (single) significant digits, the
// exponent as "E+15" / "E-05".
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

// A scaled integer (currency, decimal) in plain form, without trailing zeros
// in the fraction.
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

// Days since 30 Dec 1899, the fraction being the time of day, as
// "M/D/YYYY h:mm:ss AM"; either part is left out when it is zero.
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

std::uint32_t ElementCount(const std::vector<ArrayBound>& bounds) {
  std::uint64_t total = bounds.empty() ? 0 : 1;
  for (const ArrayBound& b : bounds) {
    total *= b.count;
    if (total > std::numeric_limits<std::int32_t>::max()) {
      RaiseRuntimeError(kOverflow);
    }
  }
  return static_cast<std::uint32_t>(total);
}

}  // namespace

Variant::Variant(std::int32_t value)
    : type_(VT_I4), payload_(std::int64_t{value}) {}
Variant::Variant(std::int16_t value)
    : type_(VT_I2), payload_(std::int64_t{value}) {}
Variant::Variant(double value) : type_(VT_R8), payload_(value) {}
Variant::Variant(std::wstring value)
    : type_(VT_BSTR), payload_(std::move(value)) {}
Variant::Variant(const wchar_t* value)
    : type_(VT_BSTR), payload_(std::wstring(value ? value : L"")) {}

Variant::Variant(const Variant& other)
    : type_(other.type_),
      byRef_(other.byRef_),
      scale_(other.scale_),
      payload_(other.payload_) {
  if (auto* array = std::get_if<std::shared_ptr<ArrayData>>(&payload_)) {
    *array = std::make_shared<ArrayData>(**array);
  }
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant Variant::Null() {
  Variant v;
  v.type_ = VT_NULL;
  return v;
}

Variant Variant::Single(float value) {
  Variant v(static_cast<double>(value));
  v.type_ = VT_R4;
  return v;
}

Variant Variant::Currency(std::int64_t scaled) {
  Variant v;
  v.type_ = VT_CY;
  v.payload_ = scaled;
  return v;
}

Variant Variant::Date(double value) {
  Variant v(value);
  v.type_ = VT_DATE;
  return v;
}

Variant Variant::Bool(bool value) {
  Variant v;
  v.type_ = VT_BOOL;
  v.payload_ = std::int64_t{value ? -1 : 0};
  return v;
}

Variant Variant::Error(std::int32_t scode) {
  Variant v(scode);
  v.type_ = VT_ERROR;
  return v;
}

Variant Variant::Byte(std::uint8_t value) {
  Variant v;
  v.type_ = VT_UI1;
  v.payload_ = std::int64_t{value};
  return v;
}

Variant Variant::Decimal(std::int64_t mantissa, std::uint8_t scale) {
  if (scale > 28) RaiseRuntimeError(kInvalidProcedureCall);
  Variant v;
  v.type_ = VT_DECIMAL;
  v.payload_ = mantissa;
  v.scale_ = scale;
  return v;
}

Variant Variant::Object(std::shared_ptr<void> object) {
  Variant v;
  v.type_ = VT_DISPATCH;
  v.payload_ = std::move(object);
  return v;
}

Variant Variant::ByteArray(std::vector<std::uint8_t> bytes,
                           std::int32_t lowerBound) {
  Variant v = Array(VT_UI1, {});
  auto& data = *std::get<std::shared_ptr<ArrayData>>(v.payload_);
  data.bounds = {{lowerBound, static_cast<std::uint32_t>(bytes.size())}};
  data.bytes = std::move(bytes);
  return v;
}

Variant Variant::StringArray(std::vector<std::wstring> strings,
                             std::int32_t lowerBound) {
  Variant v = Array(VT_BSTR, {});
  auto& data = *std::get<std::shared_ptr<ArrayData>>(v.payload_);
  data.bounds = {{lowerBound, static_cast<std::uint32_t>(strings.size())}};
  data.strings = std::move(strings);
  return v;
}

Variant Variant::Array(VarType elementType, std::vector<ArrayBound> bounds) {
  const std::uint16_t element = elementType & ~(VT_ARRAY | VT_BYREF);
  if (element == VT_NULL || element == VT_EMPTY) {
    RaiseRuntimeError(kTypeMismatch);
  }
  const std::uint32_t count = ElementCount(bounds);
  auto data = std::make_shared<ArrayData>();
  data->elementType = static_cast<VarType>(element);
  data->bounds = std::move(bounds);
  if (element == VT_UI1) {
    data->bytes.assign(count, 0);
  } else if (element == VT_BSTR) {
    data->strings.assign(count, std::wstring());
  } else {
    Variant initial;
    if (element != VT_VARIANT) {
      // Every other element type starts at its zero.
      initial.type_ = element;
      if (element == VT_R4 || element == VT_R8 || element == VT_DATE) {
        initial.payload_ = 0.0;
      } else if (element == VT_DISPATCH) {
        initial.payload_ = std::shared_ptr<void>();
      } else {
        initial.payload_ = std::int64_t{0};
      }
    }
    data->others.assign(count, initial);
  }
  Variant v;
  v.type_ = static_cast<std::uint16_t>(VT_ARRAY | element);
  v.payload_ = std::move(data);
  return v;
}

std::uint16_t Variant::VarTypeCode() const noexcept {
  return static_cast<std::uint16_t>(type_ | (byRef_ ? VT_BYREF : 0));
}

std::uint16_t Variant::Kind() const noexcept { return type_; }

Variant& Variant::SetByRef(bool byRef) noexcept {
  byRef_ = byRef;
  return *this;
}

std::int32_t Variant::ToLong() const {
  switch (Kind()) {
    case VT_EMPTY:
      return 0;
    case VT_NULL:
      RaiseRuntimeError(kInvalidUseOfNull);
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_BOOL:
      return Int64ToLong(std::get<std::int64_t>(payload_));
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      return DoubleToLong(std::get<double>(payload_));
    case VT_CY:
      return Int64ToLong(
          DivideHalfEven(std::get<std::int64_t>(payload_), kCurrencyScale));
    case VT_DECIMAL: {
      const std::uint64_t divisor = PowerOfTen(scale_);
      // Beyond 10^19 every int64 mantissa is below one half.
      if (divisor == 0) return 0;
      return Int64ToLong(
          DivideHalfEven(std::get<std::int64_t>(payload_), divisor));
    }
    case VT_BSTR:
      return DoubleToLong(StringToDouble(std::get<std::wstring>(payload_)));
    default:
      RaiseRuntimeError(kTypeMismatch);
  }
}

double Variant::ToDouble() const {
  switch (Kind()) {
    case VT_EMPTY:
      return 0.0;
    case VT_NULL:
      RaiseRuntimeError(kInvalidUseOfNull);
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_BOOL:
      return static_cast<double>(std::get<std::int64_t>(payload_));
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      return std::get<double>(payload_);
    case VT_CY:
      return static_cast<double>(std::get<std::int64_t>(payload_)) /
             kCurrencyScale;
    case VT_DECIMAL:
      return static_cast<double>(std::get<std::int64_t>(payload_)) /
             std::pow(10.0, scale_);
    case VT_BSTR:
      return StringToDouble(std::get<std::wstring>(payload_));
    default:
      RaiseRuntimeError(kTypeMismatch);
  }
}

std::wstring Variant::ToString() const {
  switch (Kind()) {
    case VT_EMPTY:
      return {};
    case VT_NULL:
      RaiseRuntimeError(kInvalidUseOfNull);
    case VT_I2:
    case VT_I4:
    case VT_UI1:
      return std::to_wstring(std::get<std::int64_t>(payload_));
    case VT_BOOL:
      return std::get<std::int64_t>(payload_) != 0 ? L"True" : L"False";
    case VT_R4:
      return FormatFloat(std::get<double>(payload_), 7);
    case VT_R8:
      return FormatFloat(std::get<double>(payload_), 15);
    case VT_DATE:
      return FormatDate(std::get<double>(payload_));
    case VT_CY:
      return FormatScaled(std::get<std::int64_t>(payload_), 4);
    case VT_DECIMAL:
      return FormatScaled(std::get<std::int64_t>(payload_), scale_);
    case VT_ERROR:
      return L"Error " + std::to_wstring(std::get<std::int64_t>(payload_));
    case VT_BSTR:
      return std::get<std::wstring>(payload_);
    default:
      RaiseRuntimeError(kTypeMismatch);
  }
}

bool Variant::ToBool() const {
  if (Kind() == VT_BSTR) {
    const std::wstring_view s = Trim(std::get<std::wstring>(payload_));
    if (EqualsNoCase(s, L"True")) return true;
    if (EqualsNoCase(s, L"False")) return false;
  }
  if (Kind() == VT_DATE || Kind() == VT_ERROR) RaiseRuntimeError(kTypeMismatch);
  return ToDouble() != 0.0;
}

const std::wstring& Variant::AsString() const {
  if (Kind() != VT_BSTR) RaiseRuntimeError(kTypeMismatch);
  return std::get<std::wstring>(payload_);
}

int Variant::Dimensions() const {
  if (!IsArray()) RaiseRuntimeError(kTypeMismatch);
  return static_cast<int>(
      std::get<std::shared_ptr<ArrayData>>(payload_)->bounds.size());
}

std::int32_t Variant::LBound(int dim) const {
  if (dim < 1 || dim > Dimensions()) RaiseRuntimeError(kSubscriptOutOfRange);
  return std::get<std::shared_ptr<ArrayData>>(payload_)
      ->bounds[static_cast<std::size_t>(dim - 1)]
      .lowerBound;
}

std::int32_t Variant::UBound(int dim) const {
  if (dim < 1 || dim > Dimensions()) RaiseRuntimeError(kSubscriptOutOfRange);
  const ArrayBound& b = std::get<std::shared_ptr<ArrayData>>(payload_)
                            ->bounds[static_cast<std::size_t>(dim - 1)];
  // An empty dimension has its upper bound just below the lower one.
  return static_cast<std::int32_t>(static_cast<std::int64_t>(b.lowerBound) +
                                   b.count - 1);
}

VarType Variant::ElementType() const {
  if (!IsArray()) RaiseRuntimeError(kTypeMismatch);
  return std::get<std::shared_ptr<ArrayData>>(payload_)->elementType;
}

const std::vector<std::uint8_t>& Variant::Bytes() const {
  if (Kind() != (VT_ARRAY | VT_UI1)) RaiseRuntimeError(kTypeMismatch);
  return std::get<std::shared_ptr<ArrayData>>(payload_)->bytes;
}

std::vector<std::uint8_t>& Variant::Bytes() {
  if (Kind() != (VT_ARRAY | VT_UI1)) RaiseRuntimeError(kTypeMismatch);
  return std::get<std::shared_ptr<ArrayData>>(payload_)->bytes;
}

const std::vector<std::wstring>& Variant::Strings() const {
  if (Kind() != (VT_ARRAY | VT_BSTR)) RaiseRuntimeError(kTypeMismatch);
  return std::get<std::shared_ptr<ArrayData>>(payload_)->strings;
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.Kind() != b.Kind()) return false;
  if (a.Kind() == VT_DECIMAL) {
    // 1.50 and 1.5 are the same decimal.
    auto normal = [](const Variant& v) {
      std::int64_t m = std::get<std::int64_t>(v.payload_);
      unsigned scale = v.scale_;
      while (scale > 0 && m % 10 == 0) {
        m /= 10;
        --scale;
      }
      return std::pair(m, scale);
    };
    return normal(a) == normal(b);
  }
  if (a.IsArray()) {
    const auto& x = *std::get<std::shared_ptr<Variant::ArrayData>>(a.payload_);
    const auto& y = *std::get<std::shared_ptr<Variant::ArrayData>>(b.payload_);
    if (x.bounds.size() != y.bounds.size()) return false;
    for (std::size_t i = 0; i < x.bounds.size(); ++i) {
      if (x.bounds[i].lowerBound != y.bounds[i].lowerBound ||
          x.bounds[i].count != y.bounds[i].count) {
        return false;
      }
    }
    return x.bytes == y.bytes && x.strings == y.strings && x.others == y.others;
  }
  return a.payload_ == b.payload_;
}

void PrintTo(const Variant& value, std::ostream* os) {
  *os << "Variant(type " << value.VarTypeCode();
  if (value.IsArray()) {
    *os << ", " << value.Dimensions() << " dims";
    if (value.Kind() == (VT_ARRAY | VT_UI1)) {
      *os << ", bytes";
      for (std::uint8_t b : value.Bytes()) *os << ' ' << static_cast<int>(b);
    }
  } else if (!value.IsNull() && value.Kind() != VT_DISPATCH) {
    *os << ", \"";
    for (wchar_t c : value.ToString()) {
      if (c >= 0x20 && c < 0x7F) {
        *os << static_cast<char>(c);
      } else {
        *os << "\\u{" << std::hex << static_cast<std::uint32_t>(c) << std::dec
            << '}';
      }
    }
    *os << '"';
  }
  *os << ')';
}

}  // namespace corvane
