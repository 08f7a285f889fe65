// Tests of the value codec and the key-tree routines against whichever
// registry the build links. Values are planted and inspected with the raw
// platform functions, so a fault in the codec can't hide behind itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "registry/MRegTool.h"
#include "support/Raised.h"
#include "support/ScratchKey.h"

namespace corvane {
namespace {

using namespace platform;
using Bytes = std::vector<std::uint8_t>;
using testing::RaisedBy;
using testing::ScratchKey;

void Plant(HKEY key, const std::string& name, DWORD type, const Bytes& data) {
  ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type, data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
}

Bytes Text(const std::string& text) {
  return Bytes(text.c_str(), text.c_str() + text.size() + 1);
}

// Status, type and bytes of a stored value.
std::tuple<LONG, DWORD, Bytes> Inspect(HKEY key, const std::string& name) {
  DWORD type = 0, size = 0;
  RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  Bytes data(size);
  const LONG status =
      RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size);
  return {status, type, data};
}

// The value `name` as ReadValue gives it, which must answer 0.
Variant Read(HKEY key, const std::string& name) {
  std::wstring wide = AnsiToWide(name);
  Variant value;
  EXPECT_EQ(MRegTool::ReadValue(key, wide, value), 0);
  return value;
}

const std::string kGuidA = "{4A017BC9-347F-4745-A1A8-993E83E8A331}";
const std::wstring kGuid = AnsiToWide(kGuidA);

TEST(MRegToolRead, EachRegistryTypeReadsAsItsVariantKind) {
  const struct {
    const char* name;
    DWORD type;
    Bytes stored;
    Variant expected;
  } cases[] = {
      {"sz", REG_SZ, Text(kGuidA), kGuid},
      {"sz empty", REG_SZ, {0}, L""},
      {"sz without NUL", REG_SZ, {'a', 'b', 'c'}, L"abc"},
      {"multi", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}, std::wstring(L"a\0b\0", 4)},
      {"dword", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFE}, std::int32_t(0xFEFFFFFF)},
      {"dword short", REG_DWORD, {0x34, 0x12}, std::int32_t{0x1234}},
      {"dword long", REG_DWORD, {1, 2, 3, 4, 5, 6, 7, 8}, 0x04030201},
      {"big endian", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 2}, std::int32_t{258}},
      {"binary empty", REG_BINARY, {}, Variant::ByteArray({})},
      {"none", REG_NONE, {1}, Variant::ByteArray({1})},
      {"link", REG_LINK, {'x', 0}, Variant::ByteArray({'x', 0})},
      {"qword",
       REG_QWORD,
       {1, 2, 3, 4, 5, 6, 7, 8},
       Variant::ByteArray({1, 2, 3, 4, 5, 6, 7, 8})},
      {"unknown type", 0x1234, {0xAB}, Variant::ByteArray({0xAB})},
  };
  ScratchKey scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Plant(scratch.Handle(), c.name, c.type, c.stored);
    EXPECT_EQ(Read(scratch.Handle(), c.name), c.expected);
  }
}

TEST(MRegToolRead, UnreadableValueAnswersZeroAndKeepsTheOutput) {
  ScratchKey scratch;
  HKEY writeOnly = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, scratch.Path().c_str(), 0,
                          KEY_SET_VALUE, &writeOnly),
            ERROR_SUCCESS);
  Plant(scratch.Handle(), "there", REG_DWORD, {5, 0, 0, 0});
  const std::pair<HKEY, const wchar_t*> cases[] = {
      {scratch.Handle(), L"not there"},
      {scratch.Handle(), L""},
      {0x1234567u, L"there"},
      {writeOnly, L"there"}};
  for (const auto& [key, valueName] : cases) {
    std::wstring name = valueName;
    Variant value = std::int32_t{42};
    EXPECT_EQ(MRegTool::ReadValue(key, name, value), 0) << key;
    EXPECT_EQ(value, Variant(std::int32_t{42})) << key;
  }
  RegCloseKey(writeOnly);
}

TEST(MRegToolRead, StringTypeOfSizeZeroRaises5) {
  ScratchKey scratch;
  for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}) {
    Plant(scratch.Handle(), "v", type, {});
    std::wstring name = L"v";
    Variant value;
    EXPECT_EQ(
        RaisedBy([&] { MRegTool::ReadValue(scratch.Handle(), name, value); }),
        5);
  }
}

TEST(MRegToolRead, ExpandStringExpandsKnownAndKeepsUnknownReferences) {
  ScratchKey scratch;
  Plant(scratch.Handle(), "known", REG_EXPAND_SZ, Text("<%PATH%>"));
  Plant(scratch.Handle(), "unknown", REG_EXPAND_SZ, Text("%CORVANE_NO_VAR%"));
  EXPECT_EQ(Read(scratch.Handle(), "known"),
            Variant(L"<" + AnsiToWide(std::getenv("PATH")) + L">"));
  EXPECT_EQ(Read(scratch.Handle(), "unknown"), Variant(L"%CORVANE_NO_VAR%"));
}

TEST(MRegToolReadAt, NamesOfAnyLengthComeBackWhole) {
  // 255 fits the first pass of the name loop exactly; the rest need more.
  for (std::size_t length : {0u, 255u, 256u, 300u, 600u}) {
    ScratchKey scratch;
    Plant(scratch.Handle(), std::string(length, 'n'), REG_DWORD_BIG_ENDIAN,
          {0, 0, 1, 2});
    std::wstring name;
    Variant value;
    EXPECT_EQ(MRegTool::ReadValueAt(scratch.Handle(), 0, name, value), 0);
    EXPECT_EQ(name, std::wstring(length, L'n'));
    EXPECT_EQ(value, Variant(std::int32_t{258}));
  }
}

TEST(MRegToolReadAt, PastTheLastValueGives259AndEmpty) {
  ScratchKey scratch;
  Plant(scratch.Handle(), "only", REG_SZ, Text("x"));
  for (std::int32_t position : {1, -1}) {
    std::wstring name = L"old";
    Variant value = std::int32_t{3};
    EXPECT_EQ(MRegTool::ReadValueAt(scratch.Handle(), position, name, value),
              ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_EQ(name, std::wstring(256, L'\0'));
  }
}

TEST(MRegToolWrite, EachVariantKindStoresItsRegistryType) {
  const struct {
    const char* name;
    Variant value;
    DWORD type;
    Bytes stored;
  } cases[] = {
      {"i4", std::int32_t{0x01020304}, REG_DWORD, {4, 3, 2, 1}},
      {"i2", std::int16_t{-1}, REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"", kGuid, REG_SZ, Text(kGuidA)},
      {"empty string", L"", REG_SZ, {0}},
      {"lone percent", L"100%", REG_SZ, Text("100%")},
      {"adjacent percents", L"a%%b", REG_SZ, Text("a%%b")},
      {"name between", L"%TEMP%\\x", REG_EXPAND_SZ, Text("%TEMP%\\x")},
      {"one between", L"a%b%", REG_EXPAND_SZ, Text("a%b%")},
      {"adjacent, another", L"%%x%", REG_EXPAND_SZ, Text("%%x%")},
      {"bytes", Variant::ByteArray({1, 2, 0, 4}), REG_BINARY, {1, 2, 0, 4}},
      {"bytes from -2",
       Variant::ByteArray({9, 8, 1, 2}, -2),
       REG_BINARY,
       {1, 2}},
  };
  ScratchKey scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring name = AnsiToWide(c.name);
    EXPECT_EQ(MRegTool::WriteValue(c.value, scratch.Handle(), name), 0);
    EXPECT_EQ(Inspect(scratch.Handle(), c.name),
              std::make_tuple(ERROR_SUCCESS, c.type, c.stored));
  }
}

TEST(MRegToolWrite, RefusedKindsAndBadByteArraysWriteNothing) {
  // Kinds it doesn't store answer 13; byte arrays without an index 0, or
  // with two dimensions, raise 9.
  const std::tuple<const char*, Variant, int> cases[] = {
      {"empty", Variant(), 13},
      {"null", Variant::Null(), 13},
      {"bool", Variant::Bool(true), 13},
      {"double", Variant(1.5), 13},
      {"currency", Variant::Currency(10000), 13},
      {"byte", Variant::Byte(1), 13},
      {"string array", Variant::StringArray({L"a"}), 13},
      {"long array", Variant::Array(VT_I4, {{0, 2}}), 13},
      {"starts at 1", Variant::ByteArray({1, 2}, 1), 9},
      {"no elements", Variant::ByteArray({}), 9},
      {"ends below 0", Variant::ByteArray({1, 2}, -5), 9},
      {"two dimensions", Variant::Array(VT_UI1, {{0, 2}, {0, 2}}), 9},
  };
  ScratchKey scratch;
  for (const auto& [label, value, expected] : cases) {
    std::wstring name = AnsiToWide(label);
    std::int32_t status = 0;
    const Variant& written = value;  // a lambda can't capture a binding
    const int raised = RaisedBy([&] {
      status = MRegTool::WriteValue(written, scratch.Handle(), name);
    });
    EXPECT_EQ(raised ? raised : status, expected) << label;
    EXPECT_EQ(std::get<0>(Inspect(scratch.Handle(), label)),
              ERROR_FILE_NOT_FOUND)
        << label;
  }
}

TEST(MRegToolWrite, StringListReadAndWrittenBackKeepsItsBytes) {
  ScratchKey scratch;
  const Bytes list = {'a', 0, 'b', 'c', 0, 0};
  Plant(scratch.Handle(), "list", REG_MULTI_SZ, list);
  std::wstring name = L"list";
  ASSERT_EQ(MRegTool::WriteValue(Read(scratch.Handle(), "list"),
                                 scratch.Handle(), name),
            0);
  EXPECT_EQ(Inspect(scratch.Handle(), "list"),
            std::make_tuple(ERROR_SUCCESS, REG_SZ, list));
}

TEST(MRegToolHelpers, SwapLongAndCutAtNul) {
  EXPECT_EQ(MRegTool::SwapLong(0x01020304), 0x04030201);
  EXPECT_EQ(MRegTool::SwapLong(std::int32_t(0x800000FFu)),
            std::int32_t(0xFF000080u));
  EXPECT_EQ(MRegTool::CutAtNul(L""), L"");
  EXPECT_EQ(MRegTool::CutAtNul(L"abc"), L"abc");
  EXPECT_EQ(MRegTool::CutAtNul(std::wstring(L"ab\0cd", 5)), L"ab");
}

TEST(MRegToolEnumKeyName, NamesComeBackWithoutPadding) {
  ScratchKey scratch;
  const std::string longest(255, 'k');
  scratch.Make("abcdefghij");
  scratch.Make(longest);
  std::wstring name;
  EXPECT_EQ(MRegTool::EnumKeyName(scratch.Handle(), 0, name), 0);
  EXPECT_EQ(name, L"abcdefghij");
  EXPECT_EQ(MRegTool::EnumKeyName(scratch.Handle(), 1, name), 0);
  EXPECT_EQ(name, AnsiToWide(longest));
  EXPECT_EQ(MRegTool::EnumKeyName(scratch.Handle(), 2, name),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(name, std::wstring(256, L'\0'));
}

// A stand-in for the system's enumeration with a name longer than any real
// key name: 234 until the buffer has room for it and its NUL, reporting the
// length needed or (as RegEnumKeyExA does) leaving it alone.
template <bool kReportsLength>
LONG EnumLongName(HKEY, DWORD, char* name, DWORD* length, DWORD*, char*, DWORD*,
                  FILETIME*) {
  const std::string stored(700, 'q');
  if (*length <= stored.size()) {
    if (kReportsLength) *length = static_cast<DWORD>(stored.size());
    return ERROR_MORE_DATA;
  }
  std::copy(stored.c_str(), stored.c_str() + stored.size() + 1, name);
  *length = static_cast<DWORD>(stored.size());
  return ERROR_SUCCESS;
}

TEST(MRegToolEnumKeyName, GrowsItsBufferUntilTheNameFits) {
  for (auto enumKey : {&EnumLongName<false>, &EnumLongName<true>}) {
    std::wstring name;
    EXPECT_EQ(MRegTool::detail::EnumKeyNameWith(enumKey, 1, 0, name), 0);
    EXPECT_EQ(name, std::wstring(700, L'q'));
  }
}

TEST(MRegToolRemove, RemoveKeyDeletesOnlyAChildlessKey) {
  ScratchKey scratch;
  scratch.Make("parent\\child");
  EXPECT_EQ(MRegTool::RemoveKey(scratch.Handle(), L"parent"),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(scratch.Has("parent\\child"));
  EXPECT_EQ(MRegTool::RemoveKey(scratch.Handle(), L"parent\\child"), 0);
  EXPECT_EQ(MRegTool::RemoveKey(scratch.Handle(), L"parent"), 0);
  EXPECT_FALSE(scratch.Has("parent"));
  EXPECT_EQ(MRegTool::RemoveKey(scratch.Handle(), L"parent"),
            ERROR_FILE_NOT_FOUND);
}

TEST(MRegToolRemove, RemoveKeyTreeDeletesADeepWideTreeAndNothingBeside) {
  ScratchKey scratch;
  for (const char* a : {"a", "b", "c"}) {
    for (const char* b : {"x", "y"}) {
      for (const char* c : {"1", "2"}) {
        const HKEY key =
            scratch.CreateKey(std::string("tree\\") + a + "\\" + b + "\\" + c);
        Plant(key, "v", REG_SZ, Text("x"));
        RegCloseKey(key);
      }
    }
  }
  scratch.Make("treeSibling");
  EXPECT_EQ(MRegTool::RemoveKeyTree(scratch.Handle(), L"tree"), 0);
  EXPECT_FALSE(scratch.Has("tree"));
  EXPECT_TRUE(scratch.Has("treeSibling"));
  EXPECT_EQ(MRegTool::RemoveKeyTree(scratch.Handle(), L"tree"),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace corvane
