// The Variant value: construction, kind tests, conversions and arrays.
// Arrays are copied with the value that holds them, so two Variants never
// share elements. Reading and writing the text of a value are in
// VariantParse and VariantFormat.
#include "variant/Variant.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "errors/RuntimeError.h"
#include "variant/VariantFormat.h"
#include "variant/VariantParse.h"

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
    if (const std::optional<bool> word =
            TruthWord(std::get<std::wstring>(payload_))) {
      return *word;
    }
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
