// The Variant value: the dynamically typed value that crosses the public
// operations of the registry object model, with the type codes of OLE
// Automation. A value is one of the kinds below, optionally marked as passed
// by reference (VT_BYREF), which no kind test looks at.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace corvane {

enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_DECIMAL = 14,
  VT_UI1 = 17,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
};

// One dimension of an array: its lower bound and element count.
struct ArrayBound {
  std::int32_t lowerBound;
  std::uint32_t count;
};

class Variant {
 public:
  // Empty.
  Variant() = default;
  // Integers and strings convert implicitly, so calls read naturally:
  // node.AddItem(1, L"AuthenticationLevel").
  Variant(std::int32_t value);    // NOLINT(google-explicit-constructor)
  Variant(std::int16_t value);    // NOLINT(google-explicit-constructor)
  Variant(double value);          // NOLINT(google-explicit-constructor)
  Variant(std::wstring value);    // NOLINT(google-explicit-constructor)
  Variant(const wchar_t* value);  // NOLINT(google-explicit-constructor)
  // Copying a Variant copies the elements of its array: two values never
  // share one.
  Variant(const Variant& other);
  Variant& operator=(const Variant& other);
  Variant(Variant&&) noexcept = default;
  Variant& operator=(Variant&&) noexcept = default;
  ~Variant() = default;
  // Narrow strings and bare pointers are refused: strings are wide inside.
  Variant(const char*) = delete;
  Variant(bool) = delete;

  static Variant Null();
  static Variant Single(float value);
  // value is scaled by 10,000, as the currency type stores it.
  static Variant Currency(std::int64_t scaled);
  static Variant Date(double value);
  static Variant Bool(bool value);
  static Variant Error(std::int32_t scode);
  static Variant Byte(std::uint8_t value);
  // mantissa / 10^scale; scale 0..28.
  static Variant Decimal(std::int64_t mantissa, std::uint8_t scale);
  static Variant Object(std::shared_ptr<void> object);
  // One-dimensional arrays.
  static Variant ByteArray(std::vector<std::uint8_t> bytes,
                           std::int32_t lowerBound = 0);
  static Variant StringArray(std::vector<std::wstring> strings,
                             std::int32_t lowerBound = 0);
  // An array of any element type and any number of dimensions, its elements
  // at their default (0, "", Empty).
  static Variant Array(VarType elementType, std::vector<ArrayBound> bounds);

  // The full type code, VT_BYREF included.
  std::uint16_t VarTypeCode() const noexcept;
  // The type code without VT_BYREF: what every kind test looks at.
  std::uint16_t Kind() const noexcept;
  bool IsByRef() const noexcept { return byRef_; }
  // Marks the value as passed by reference (or not); returns *this.
  Variant& SetByRef(bool byRef = true) noexcept;

  bool IsEmpty() const noexcept { return Kind() == VT_EMPTY; }
  bool IsNull() const noexcept { return Kind() == VT_NULL; }
  bool IsString() const noexcept { return Kind() == VT_BSTR; }
  bool IsArray() const noexcept { return (Kind() & VT_ARRAY) != 0; }
  // A 16- or 32-bit integer.
  bool IsInteger() const noexcept { return Kind() == VT_I2 || Kind() == VT_I4; }

  // Conversion to a 32-bit integer: Empty -> 0, Boolean true -> -1, floating
  // point, currency and decimal rounded half to even, a numeric string
  // parsed; raises 6 (out of range), 94 (Null) or 13 (anything else).
  std::int32_t ToLong() const;
  // Conversion to a string: Empty -> "", numbers in their plain form,
  // Boolean "True"/"False"; raises 94 for Null and 13 for arrays and objects.
  std::wstring ToString() const;
  // Conversion to a truth value: numbers are true when not 0, the strings
  // "True"/"False" (any case) or numeric strings; raises 94 / 13.
  bool ToBool() const;
  // Conversion to a double; raises as ToLong does (6 only for currency
  // and decimal it cannot hold, which never happens).
  double ToDouble() const;

  // Direct access; the kind must match (checked, raises 13 otherwise).
  const std::wstring& AsString() const;
  // Array shape. dim counts from 1; a dimension that doesn't exist raises 9.
  int Dimensions() const;
  std::int32_t LBound(int dim = 1) const;
  std::int32_t UBound(int dim = 1) const;
  VarType ElementType() const;
  // Elements of a byte array / string array in storage order (all
  // dimensions, first dimension fastest). Raises 13 for another kind.
  const std::vector<std::uint8_t>& Bytes() const;
  std::vector<std::uint8_t>& Bytes();
  const std::vector<std::wstring>& Strings() const;

  // Same kind (by-reference flag ignored) and same content.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  struct ArrayData;
  using Payload =
      std::variant<std::monostate, std::int64_t, double, std::wstring,
                   std::shared_ptr<void>, std::shared_ptr<ArrayData>>;
  std::uint16_t type_ = VT_EMPTY;
  bool byRef_ = false;
  std::uint8_t scale_ = 0;  // decimal only
  Payload payload_;
};

// For test diagnostics.
void PrintTo(const Variant& value, std::ostream* os);

}  // namespace corvane
