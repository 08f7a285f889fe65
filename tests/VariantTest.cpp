// Variant conversions at the edges that matter to the registry model:
// rounding, ranges, numeric strings, Null, the by-reference flag, and the
// value semantics of arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "errors/RaisedError.h"
#include "support/Raised.h"
#include "variant/Variant.h"

namespace corvane {
namespace {

using testing::RaisedBy;

struct LongCase {
  const char* label;
  Variant value;
  std::int32_t expected;
};

TEST(VariantToLong, ConvertsEveryNumericKind) {
  const LongCase cases[] = {
      {"empty", Variant(), 0},
      {"i2", Variant(std::int16_t{-5}), -5},
      {"i4 max", Variant(std::numeric_limits<std::int32_t>::max()),
       std::numeric_limits<std::int32_t>::max()},
      {"i4 min", Variant(std::numeric_limits<std::int32_t>::min()),
       std::numeric_limits<std::int32_t>::min()},
      {"byte", Variant::Byte(255), 255},
      {"true", Variant::Bool(true), -1},
      {"false", Variant::Bool(false), 0},
      {"2.5 to even", Variant(2.5), 2},
      {"3.5 to even", Variant(3.5), 4},
      {"-2.5 to even", Variant(-2.5), -2},
      {"-0.5 to even", Variant(-0.5), 0},
      {"2.6 up", Variant(2.6), 3},
      {"-2.4 down", Variant(-2.4), -2},
      {"top tie", Variant(-2147483648.5),
       std::numeric_limits<std::int32_t>::min()},
      {"just below max", Variant(2147483647.4), 2147483647},
      {"single", Variant::Single(1.5f), 2},
      {"date", Variant::Date(36526.5), 36526},
      {"currency 2.5", Variant::Currency(25000), 2},
      {"currency -3.5", Variant::Currency(-35000), -4},
      {"currency 1.2345", Variant::Currency(12345), 1},
      {"currency -0.5001", Variant::Currency(-5001), -1},
      {"decimal 2.5", Variant::Decimal(25, 1), 2},
      {"decimal -7.5", Variant::Decimal(-75, 1), -8},
      {"decimal 0.5 at scale 19", Variant::Decimal(5000000000000000000, 19), 0},
      {"decimal 0.6 at scale 19", Variant::Decimal(6000000000000000000, 19), 1},
      {"decimal tiny", Variant::Decimal(9, 28), 0},
      {"string", Variant(L"42"), 42},
      {"string with blanks", Variant(L"  -17\t"), -17},
      {"string plus", Variant(L"+8"), 8},
      {"string fraction", Variant(L"2.5"), 2},
      {"string leading point", Variant(L".6"), 1},
      {"string exponent", Variant(L"1.5E3"), 1500},
      {"hex", Variant(L"&HFF"), 255},
      {"hex all bits", Variant(L"&hFFFFFFFF"), -1},
      {"octal", Variant(L"&O17"), 15},
      {"string underflow", Variant(L"1e-400"), 0},
      {"string tiny fraction", Variant(L"0." + std::wstring(400, L'0') + L"1"),
       0},
  };
  for (const LongCase& c : cases) {
    EXPECT_EQ(c.value.ToLong(), c.expected) << c.label;
  }
}

struct RaiseCase {
  const char* label;
  Variant value;
  std::int32_t number;
};

TEST(VariantToLong, RaisesOverflowNullAndMismatch) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const RaiseCase cases[] = {
      {"double past max", Variant(2147483647.5), 6},
      {"double past min", Variant(-2147483649.0), 6},
      {"huge", Variant(1e300), 6},
      {"nan", Variant(nan), 6},
      {"currency", Variant::Currency(std::numeric_limits<std::int64_t>::max()),
       6},
      {"decimal tie to even past max", Variant::Decimal(21474836475, 1), 6},
      {"string past max", Variant(L"2147483648"), 6},
      {"string exponent overflow", Variant(L"1e400"), 6},
      {"string too many digits", Variant(L"1" + std::wstring(400, L'0')), 6},
      {"hex past 32 bits", Variant(L"&H100000000"), 6},
      {"null", Variant::Null(), 94},
      {"null by reference", Variant::Null().SetByRef(), 94},
      {"empty string", Variant(L""), 13},
      {"blank string", Variant(L"   "), 13},
      {"word", Variant(L"abc"), 13},
      {"trailing junk", Variant(L"12abc"), 13},
      {"lone point", Variant(L"."), 13},
      {"bare exponent", Variant(L"1e"), 13},
      {"inf", Variant(L"inf"), 13},
      {"nan text", Variant(L"nan"), 13},
      {"C hex", Variant(L"0x10"), 13},
      {"empty hex", Variant(L"&H"), 13},
      {"bad hex digit", Variant(L"&HG"), 13},
      {"error value", Variant::Error(5), 13},
      {"object", Variant::Object(std::make_shared<int>(1)), 13},
      {"byte array", Variant::ByteArray({1, 2}), 13},
      {"string array", Variant::StringArray({L"1"}), 13},
  };
  for (const RaiseCase& c : cases) {
    EXPECT_EQ(RaisedBy([&] { c.value.ToLong(); }), c.number) << c.label;
  }
}

TEST(VariantToLong, RaisedErrorCarriesItsDescription) {
  try {
    Variant(1e20).ToLong();
    FAIL() << "no error raised";
  } catch (const RaisedError& e) {
    EXPECT_EQ(e.Number(), 6);
    EXPECT_EQ(e.Description(), L"Overflow");
    EXPECT_EQ(e.Source(), L"Corvane");
  }
}

TEST(Variant, ByReferenceFlagIsIgnoredByKindTests) {
  Variant i4(7);
  i4.SetByRef();
  EXPECT_EQ(i4.VarTypeCode(), VT_BYREF | VT_I4);
  EXPECT_EQ(i4.Kind(), VT_I4);
  EXPECT_TRUE(i4.IsInteger());
  EXPECT_EQ(i4.ToLong(), 7);
  EXPECT_EQ(i4, Variant(7));

  Variant bytes = Variant::ByteArray({1, 2, 3});
  bytes.SetByRef();
  EXPECT_EQ(bytes.VarTypeCode(), 0x6011);
  EXPECT_EQ(bytes.Kind(), 0x2011);
  EXPECT_TRUE(bytes.IsArray());
  EXPECT_EQ(bytes.Bytes().size(), 3u);

  Variant text(L"x");
  text.SetByRef();
  EXPECT_TRUE(text.IsString());
  EXPECT_EQ(text.AsString(), L"x");
  EXPECT_FALSE(text.SetByRef(false).IsByRef());
}

TEST(VariantToString, FormatsEachKind) {
  const struct {
    Variant value;
    const wchar_t* expected;
  } cases[] = {
      {Variant(), L""},
      {Variant(-12), L"-12"},
      {Variant(std::int16_t{300}), L"300"},
      {Variant::Byte(200), L"200"},
      {Variant::Bool(true), L"True"},
      {Variant::Bool(false), L"False"},
      {Variant(0.5), L"0.5"},
      {Variant(-3.0), L"-3"},
      {Variant(123456789012345.0), L"123456789012345"},
      {Variant(1e15), L"1E+15"},
      {Variant(0.0001), L"0.0001"},
      {Variant(0.00001), L"1E-05"},
      {Variant(1e-300), L"1E-300"},
      {Variant::Single(0.1f), L"0.1"},
      {Variant::Currency(12345), L"1.2345"},
      {Variant::Currency(-5000), L"-0.5"},
      {Variant::Currency(70000), L"7"},
      {Variant::Decimal(-150, 2), L"-1.5"},
      {Variant::Decimal(5, 3), L"0.005"},
      {Variant::Date(36526), L"1/1/2000"},
      {Variant::Date(0.75), L"6:00:00 PM"},
      {Variant::Date(36526.25), L"1/1/2000 6:00:00 AM"},
      {Variant::Date(0), L"12/30/1899"},
      {Variant::Error(5), L"Error 5"},
      {Variant(L"text"), L"text"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value.ToString(), c.expected);
  }
  EXPECT_EQ(RaisedBy([] { Variant::Null().ToString(); }), 94);
  EXPECT_EQ(RaisedBy([] { Variant::ByteArray({}).ToString(); }), 13);
  EXPECT_EQ(RaisedBy([] { Variant(1).AsString(); }), 13);
}

TEST(VariantToBool, AcceptsWordsAndNumbers) {
  EXPECT_TRUE(Variant(L" TRUE ").ToBool());
  EXPECT_FALSE(Variant(L"false").ToBool());
  EXPECT_TRUE(Variant(L"-2").ToBool());
  EXPECT_FALSE(Variant(L"0").ToBool());
  EXPECT_FALSE(Variant().ToBool());
  EXPECT_TRUE(Variant(0.1).ToBool());
  EXPECT_EQ(RaisedBy([] { Variant(L"yes").ToBool(); }), 13);
  EXPECT_EQ(RaisedBy([] { Variant::Null().ToBool(); }), 94);
}

TEST(VariantArray, ShapeAndBounds) {
  const Variant bytes = Variant::ByteArray({9, 8, 7}, 1);
  EXPECT_EQ(bytes.Kind(), VT_ARRAY | VT_UI1);
  EXPECT_EQ(bytes.ElementType(), VT_UI1);
  EXPECT_EQ(bytes.Dimensions(), 1);
  EXPECT_EQ(bytes.LBound(), 1);
  EXPECT_EQ(bytes.UBound(), 3);

  const Variant none = Variant::ByteArray({});
  EXPECT_EQ(none.LBound(), 0);
  EXPECT_EQ(none.UBound(), -1);

  const Variant grid = Variant::Array(VT_I4, {{1, 2}, {-1, 3}});
  EXPECT_EQ(grid.Kind(), VT_ARRAY | VT_I4);
  EXPECT_EQ(grid.Dimensions(), 2);
  EXPECT_EQ(grid.UBound(1), 2);
  EXPECT_EQ(grid.LBound(2), -1);
  EXPECT_EQ(grid.UBound(2), 1);
  EXPECT_EQ(RaisedBy([&] { grid.UBound(3); }), 9);
  EXPECT_EQ(RaisedBy([&] { grid.LBound(0); }), 9);
  EXPECT_EQ(RaisedBy([&] { grid.Bytes(); }), 13);
  EXPECT_EQ(RaisedBy([] { Variant(1).Dimensions(); }), 13);

  const Variant strings = Variant::Array(VT_BSTR, {{0, 2}, {0, 2}});
  EXPECT_EQ(strings.Strings(), std::vector<std::wstring>(4));
  EXPECT_EQ(Variant::StringArray({L"a", L"b"}).Strings().back(), L"b");
}

TEST(VariantArray, CopiesNeverShareElements) {
  Variant original = Variant::ByteArray({1, 2, 3});
  Variant copy = original;
  copy.Bytes()[0] = 99;
  EXPECT_EQ(original.Bytes()[0], 1);

  Variant assigned;
  assigned = original;
  original.Bytes().push_back(4);
  EXPECT_EQ(assigned.Bytes().size(), 3u);
  EXPECT_NE(assigned, original);
  assigned.Bytes().push_back(4);
  EXPECT_EQ(assigned, original);
}

TEST(Variant, EqualityComparesKindAndContent) {
  EXPECT_NE(Variant(std::int16_t{5}), Variant(5));
  EXPECT_EQ(Variant::Decimal(150, 2), Variant::Decimal(15, 1));
  EXPECT_NE(Variant::ByteArray({1}, 0), Variant::ByteArray({1}, 1));
  EXPECT_NE(Variant(), Variant::Null());
  EXPECT_EQ(Variant(L"a"), Variant(std::wstring(L"a")));
}

}  // namespace
}  // namespace corvane
