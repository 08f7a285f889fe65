// Tests of the value codec and the key-tree routines against whichever
// registry the build links. Values are planted and inspected with the raw
// platform functions, so a fault in the codec can't hide behind itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "errors/RaisedError.h"
#include "registry/MRegTool.h"
#include "support/ScratchKey.h"

namespace corvane {
namespace {

using namespace platform;
using Bytes = std::vector<std::uint8_t>;
using testing::ScratchKey;

void Plant(HKEY key, const std::string& name, DWORD type, const Bytes& data) {
  ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type,
                           data.empty() ? nullptr : data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS)
      << name;
}

Bytes Text(const std::string& text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

struct Stored {
  LONG status = 0;
  DWORD type = 0;
  Bytes data;
};

Stored Inspect(HKEY key, const std::string& name) {
  Stored stored;
  DWORD size = 0;
  stored.status = RegQueryValueExA(key, name.c_str(), nullptr, &stored.type,
                                   nullptr, &size);
  if (stored.status != ERROR_SUCCESS) return stored;
  stored.data.resize(size);
  stored.status = RegQueryValueExA(key, name.c_str(), nullptr, &stored.type,
                                   stored.data.data(), &size);
  stored.data.resize(size);
  return stored;
}

bool KeyExists(HKEY parent, const std::string& path) {
  HKEY key = 0;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

int RaisedNumber(const std::function<void()>& action) {
  try {
    action();
  } catch (const RaisedError& error) {
    return error.Number();
  }
  return 0;
}

const std::wstring kGuid = L"{4A017BC9-347F-4745-A1A8-993E83E8A331}";

// --- Reading -------------------------------------------------------------

struct ReadCase {
  const char* label;
  DWORD type;
  Bytes stored;
  Variant expected;
};

TEST(MRegToolRead, EachRegistryTypeReadsAsItsVariantKind) {
  const std::vector<ReadCase> cases = {
      {"sz", REG_SZ, Text("{4A017BC9-347F-4745-A1A8-993E83E8A331}"), kGuid},
      {"sz empty", REG_SZ, {0}, L""},
      {"sz without NUL", REG_SZ, {'a', 'b', 'c'}, L"abc"},
      {"multi", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}, std::wstring(L"a\0b\0", 4)},
      {"dword", REG_DWORD, {1, 0, 0, 0}, std::int32_t{1}},
      {"dword -1", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, std::int32_t{-1}},
      {"dword short", REG_DWORD, {0x34, 0x12}, std::int32_t{0x1234}},
      {"dword long",
       REG_DWORD,
       {1, 2, 3, 4, 5, 6, 7, 8},
       std::int32_t{0x04030201}},
      {"big endian", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 2}, std::int32_t{258}},
      {"big endian sign",
       REG_DWORD_BIG_ENDIAN,
       {0x80, 0, 0, 1},
       std::int32_t(0x80000001u)},
      {"binary", REG_BINARY, {9, 0, 7}, Variant::ByteArray({9, 0, 7})},
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
    SCOPED_TRACE(c.label);
    Plant(scratch.Handle(), c.label, c.type, c.stored);
    std::wstring name = AnsiToWide(c.label);
    Variant value;
    EXPECT_EQ(MRegTool::ReadValue(scratch.Handle(), name, value), 0);
    EXPECT_EQ(value, c.expected);
    EXPECT_EQ(name, AnsiToWide(c.label));
  }
}

TEST(MRegToolRead, ByteArrayStartsAtZero) {
  ScratchKey scratch;
  Plant(scratch.Handle(), "b", REG_BINARY, {1, 2, 3, 4});
  std::wstring name = L"b";
  Variant value;
  ASSERT_EQ(MRegTool::ReadValue(scratch.Handle(), name, value), 0);
  EXPECT_EQ(value.Kind(), VT_ARRAY | VT_UI1);
  EXPECT_EQ(value.LBound(), 0);
  EXPECT_EQ(value.UBound(), 3);
}

TEST(MRegToolRead, UnreadableValueAnswersZeroAndKeepsTheOutput) {
  ScratchKey scratch;
  HKEY writeOnly = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, scratch.Path().c_str(), 0,
                          KEY_SET_VALUE, &writeOnly),
            ERROR_SUCCESS);
  Plant(scratch.Handle(), "there", REG_DWORD, {5, 0, 0, 0});
  const struct {
    const char* label;
    HKEY key;
    const wchar_t* name;
  } cases[] = {
      {"missing name", scratch.Handle(), L"not there"},
      {"missing default", scratch.Handle(), L""},
      {"invalid handle", 0x1234567u, L"there"},
      {"no query right", writeOnly, L"there"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::wstring name = c.name;
    Variant value = std::int32_t{42};
    EXPECT_EQ(MRegTool::ReadValue(c.key, name, value), 0);
    EXPECT_EQ(value, Variant(std::int32_t{42}));
  }
  RegCloseKey(writeOnly);
}

TEST(MRegToolRead, StringTypeOfSizeZeroRaises5) {
  ScratchKey scratch;
  for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}) {
    SCOPED_TRACE(type);
    Plant(scratch.Handle(), "v", type, {});
    std::wstring name = L"v";
    Variant value = std::int32_t{7};
    EXPECT_EQ(RaisedNumber(
                  [&] { MRegTool::ReadValue(scratch.Handle(), name, value); }),
              5);
    EXPECT_EQ(value, Variant(std::int32_t{7}));
  }
}

TEST(MRegToolRead, ExpandStringExpandsKnownAndKeepsUnknownReferences) {
  const char* path = std::getenv("PATH");
  ASSERT_NE(path, nullptr);
  ScratchKey scratch;
  Plant(scratch.Handle(), "known", REG_EXPAND_SZ, Text("<%PATH%>"));
  Plant(scratch.Handle(), "unknown", REG_EXPAND_SZ,
        Text("%CORVANE_NO_SUCH_VARIABLE%\\x"));
  std::wstring name = L"known";
  Variant value;
  ASSERT_EQ(MRegTool::ReadValue(scratch.Handle(), name, value), 0);
  EXPECT_EQ(value, Variant(L"<" + AnsiToWide(path) + L">"));
  name = L"unknown";
  ASSERT_EQ(MRegTool::ReadValue(scratch.Handle(), name, value), 0);
  EXPECT_EQ(value, Variant(L"%CORVANE_NO_SUCH_VARIABLE%\\x"));
}

// --- Reading by position -------------------------------------------------

TEST(MRegToolReadAt, NamesOfAnyLengthComeBackWhole) {
  // 255 fits the first pass exactly; the longer ones need more passes.
  for (std::size_t length : {1u, 255u, 256u, 300u, 600u}) {
    SCOPED_TRACE(length);
    ScratchKey scratch;
    const std::string stored(length, 'n');
    Plant(scratch.Handle(), stored, REG_SZ, Text("v"));
    std::wstring name;
    Variant value;
    EXPECT_EQ(MRegTool::ReadValueAt(scratch.Handle(), 0, name, value), 0);
    EXPECT_EQ(name, std::wstring(length, L'n'));
    EXPECT_EQ(value, Variant(L"v"));
  }
}

TEST(MRegToolReadAt, DecodesAsReadValueDoes) {
  ScratchKey scratch;
  Plant(scratch.Handle(), "", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 2});
  std::wstring name = L"junk";
  Variant value;
  ASSERT_EQ(MRegTool::ReadValueAt(scratch.Handle(), 0, name, value), 0);
  EXPECT_EQ(name, L"");
  EXPECT_EQ(value, Variant(std::int32_t{258}));
}

TEST(MRegToolReadAt, PastTheLastValueGives259AndEmpty) {
  ScratchKey scratch;
  Plant(scratch.Handle(), "only", REG_SZ, Text("x"));
  for (std::int32_t position : {1, 5, -1}) {
    SCOPED_TRACE(position);
    std::wstring name = L"old";
    Variant value = std::int32_t{3};
    EXPECT_EQ(MRegTool::ReadValueAt(scratch.Handle(), position, name, value),
              ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_EQ(name, std::wstring(256, L'\0'));
  }
}

// --- Writing -------------------------------------------------------------

struct WriteCase {
  const char* label;
  Variant value;
  DWORD type;
  Bytes stored;
};

TEST(MRegToolWrite, EachVariantKindStoresItsRegistryType) {
  const std::vector<WriteCase> cases = {
      {"i4", std::int32_t{1}, REG_DWORD, {1, 0, 0, 0}},
      {"i2", std::int16_t{-1}, REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"byref i4",
       Variant(std::int32_t{0x01020304}).SetByRef(),
       REG_DWORD,
       {4, 3, 2, 1}},
      {"guid", kGuid, REG_SZ, Text("{4A017BC9-347F-4745-A1A8-993E83E8A331}")},
      {"empty string", L"", REG_SZ, {0}},
      {"lone percent", L"100%", REG_SZ, Text("100%")},
      {"adjacent percents", L"a%%b", REG_SZ, Text("a%%b")},
      {"name between percents", L"%TEMP%\\x", REG_EXPAND_SZ, Text("%TEMP%\\x")},
      {"one char between", L"a%b%", REG_EXPAND_SZ, Text("a%b%")},
      {"adjacent then another", L"%%x%", REG_EXPAND_SZ, Text("%%x%")},
      {"bytes", Variant::ByteArray({1, 2, 3, 4}), REG_BINARY, {1, 2, 3, 4}},
      {"bytes from -2",
       Variant::ByteArray({9, 8, 1, 2, 3}, -2),
       REG_BINARY,
       {1, 2, 3}},
      {"bytes 0..0", Variant::ByteArray({7}), REG_BINARY, {7}},
  };
  ScratchKey scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::wstring name = AnsiToWide(c.label);
    EXPECT_EQ(MRegTool::WriteValue(c.value, scratch.Handle(), name), 0);
    const Stored stored = Inspect(scratch.Handle(), c.label);
    EXPECT_EQ(stored.status, ERROR_SUCCESS);
    EXPECT_EQ(stored.type, c.type);
    EXPECT_EQ(stored.data, c.stored);
  }
}

TEST(MRegToolWrite, EmptyNameIsTheDefaultValue) {
  ScratchKey scratch;
  std::wstring name;
  ASSERT_EQ(MRegTool::WriteValue(L"Gemini Driver", scratch.Handle(), name), 0);
  const Stored stored = Inspect(scratch.Handle(), "");
  EXPECT_EQ(stored.type, REG_SZ);
  EXPECT_EQ(stored.data, Text("Gemini Driver"));
}

TEST(MRegToolWrite, KindsItDoesNotStoreGive13AndWriteNothing) {
  const std::vector<std::pair<const char*, Variant>> cases = {
      {"empty", Variant()},
      {"null", Variant::Null()},
      {"bool", Variant::Bool(true)},
      {"double", Variant(1.5)},
      {"single", Variant::Single(2.5f)},
      {"currency", Variant::Currency(10000)},
      {"date", Variant::Date(1.0)},
      {"error", Variant::Error(5)},
      {"byte", Variant::Byte(1)},
      {"decimal", Variant::Decimal(15, 1)},
      {"string array", Variant::StringArray({L"a"})},
      {"long array", Variant::Array(VT_I4, {{0, 2}})},
  };
  ScratchKey scratch;
  for (const auto& [label, value] : cases) {
    SCOPED_TRACE(label);
    std::wstring name = AnsiToWide(label);
    EXPECT_EQ(MRegTool::WriteValue(value, scratch.Handle(), name),
              ERROR_INVALID_DATA);
    EXPECT_EQ(Inspect(scratch.Handle(), label).status, ERROR_FILE_NOT_FOUND);
  }
}

TEST(MRegToolWrite, ByteArraysWithoutIndexZeroOrWithTwoDimensionsRaise9) {
  const std::vector<std::pair<const char*, Variant>> cases = {
      {"starts at 1", Variant::ByteArray({1, 2}, 1)},
      {"no elements", Variant::ByteArray({})},
      {"ends below 0", Variant::ByteArray({1, 2}, -5)},
      {"two dimensions", Variant::Array(VT_UI1, {{0, 2}, {0, 2}})},
  };
  ScratchKey scratch;
  for (const auto& [label, value] : cases) {
    SCOPED_TRACE(label);
    std::wstring name = AnsiToWide(label);
    EXPECT_EQ(RaisedNumber(
                  [&] { MRegTool::WriteValue(value, scratch.Handle(), name); }),
              9);
    EXPECT_EQ(Inspect(scratch.Handle(), label).status, ERROR_FILE_NOT_FOUND);
  }
}

TEST(MRegToolWrite, FailedSetReturnsItsStatus) {
  ScratchKey scratch;
  HKEY readOnly = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, scratch.Path().c_str(), 0,
                          KEY_READ, &readOnly),
            ERROR_SUCCESS);
  std::wstring name = L"v";
  EXPECT_EQ(MRegTool::WriteValue(std::int32_t{1}, readOnly, name),
            ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);
}

// --- Round trips ---------------------------------------------------------

TEST(MRegToolRoundTrip, WrittenValuesReadBackAsTheyWent) {
  const std::vector<std::pair<Variant, Variant>> cases = {
      {std::int16_t{-1}, std::int32_t{-1}},
      {std::int32_t{-2147483647 - 1}, std::int32_t{-2147483647 - 1}},
      {kGuid, kGuid},
      {L"", L""},
      {Variant::ByteArray({0, 1, 2, 255}), Variant::ByteArray({0, 1, 2, 255})},
      {L"%CORVANE_NO_SUCH_VARIABLE%", L"%CORVANE_NO_SUCH_VARIABLE%"},
  };
  ScratchKey scratch;
  for (const auto& [written, read] : cases) {
    SCOPED_TRACE(::testing::PrintToString(written));
    std::wstring name = L"v";
    ASSERT_EQ(MRegTool::WriteValue(written, scratch.Handle(), name), 0);
    Variant value;
    EXPECT_EQ(MRegTool::ReadValue(scratch.Handle(), name, value), 0);
    EXPECT_EQ(value, read);
  }
}

TEST(MRegToolRoundTrip, StringListWrittenBackKeepsItsBytesAsPlainString) {
  ScratchKey scratch;
  const Bytes list = {'a', 0, 'b', 'c', 0, 0};
  Plant(scratch.Handle(), "list", REG_MULTI_SZ, list);
  std::wstring name = L"list";
  Variant value;
  ASSERT_EQ(MRegTool::ReadValue(scratch.Handle(), name, value), 0);
  ASSERT_EQ(MRegTool::WriteValue(value, scratch.Handle(), name), 0);
  const Stored stored = Inspect(scratch.Handle(), "list");
  EXPECT_EQ(stored.type, REG_SZ);
  EXPECT_EQ(stored.data, list);
}

// --- Small helpers -------------------------------------------------------

TEST(MRegToolHelpers, SwapLongReversesTheBytes) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {0x01020304u, 0x04030201u}, {0u, 0u},
      {0xFFFFFFFFu, 0xFFFFFFFFu}, {0x80000000u, 0x00000080u},
      {0x000000FFu, 0xFF000000u}, {0x12345678u, 0x78563412u},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(MRegTool::SwapLong(static_cast<std::int32_t>(in)),
              static_cast<std::int32_t>(out))
        << std::hex << in;
  }
}

TEST(MRegToolHelpers, CutAtNulStopsAtTheFirstNul) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"", L""},
      {L"abc", L"abc"},
      {std::wstring(L"ab\0cd", 5), L"ab"},
      {std::wstring(L"\0x", 2), L""},
      {std::wstring(260, L'\0'), L""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(MRegTool::CutAtNul(in), out);
}

// --- Subkeys -------------------------------------------------------------

TEST(MRegToolEnumKeyName, NamesComeBackWithoutPadding) {
  ScratchKey scratch;
  const std::string longName(255, 'k');
  for (const std::string& child :
       {std::string("abcdefghij"), longName, std::string("zz")}) {
    RegCloseKey(scratch.CreateKey(child));
  }
  const std::pair<std::int32_t, std::wstring> cases[] = {
      {0, L"abcdefghij"}, {1, AnsiToWide(longName)}, {2, L"zz"}};
  for (const auto& [position, expected] : cases) {
    std::wstring name;
    EXPECT_EQ(MRegTool::EnumKeyName(scratch.Handle(), position, name), 0);
    EXPECT_EQ(name, expected);
  }
  std::wstring name = L"old";
  EXPECT_EQ(MRegTool::EnumKeyName(scratch.Handle(), 3, name),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(name, std::wstring(256, L'\0'));
}

// A stand-in for the system's enumeration with a name longer than any real
// key name, answering 234 until the buffer has room for it and its NUL.
template <bool kReportsLength>
LONG EnumLongName(HKEY, DWORD, char* name, DWORD* length, DWORD*, char*, DWORD*,
                  FILETIME*) {
  static const std::string kName(700, 'q');
  if (*length <= kName.size()) {
    if (kReportsLength) *length = static_cast<DWORD>(kName.size());
    return ERROR_MORE_DATA;
  }
  kName.copy(name, kName.size());
  name[kName.size()] = '\0';
  *length = static_cast<DWORD>(kName.size());
  return ERROR_SUCCESS;
}

TEST(MRegToolEnumKeyName, GrowsItsBufferUntilTheNameFits) {
  for (auto enumKey : {&EnumLongName<false>, &EnumLongName<true>}) {
    std::wstring name;
    EXPECT_EQ(MRegTool::detail::EnumKeyNameWith(enumKey, 1, 0, name), 0);
    EXPECT_EQ(name, std::wstring(700, L'q'));
  }
}

TEST(MRegToolRemoveKey, DeletesOnlyAChildlessKey) {
  ScratchKey scratch;
  RegCloseKey(scratch.CreateKey("parent\\child"));
  EXPECT_EQ(MRegTool::RemoveKey(scratch.Handle(), L"parent"),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(KeyExists(scratch.Handle(), "parent\\child"));
  EXPECT_EQ(MRegTool::RemoveKey(scratch.Handle(), L"parent\\child"), 0);
  EXPECT_FALSE(KeyExists(scratch.Handle(), "parent\\child"));
  EXPECT_EQ(MRegTool::RemoveKey(scratch.Handle(), L"parent"), 0);
  EXPECT_FALSE(KeyExists(scratch.Handle(), "parent"));
  EXPECT_EQ(MRegTool::RemoveKey(scratch.Handle(), L"parent"),
            ERROR_FILE_NOT_FOUND);
}

TEST(MRegToolRemoveKeyTree, DeletesADeepWideTreeAndNothingBeside) {
  ScratchKey scratch;
  for (const char* a : {"a", "b", "c"}) {
    for (const char* b : {"x", "y"}) {
      for (const char* c : {"1", "2", "3"}) {
        const std::string path =
            std::string("tree\\") + a + "\\" + b + "\\" + c;
        const HKEY key = scratch.CreateKey(path);
        Plant(key, "v", REG_SZ, Text("x"));
        RegCloseKey(key);
      }
    }
  }
  RegCloseKey(scratch.CreateKey("treeSibling\\kept"));
  EXPECT_EQ(MRegTool::RemoveKeyTree(scratch.Handle(), L"tree"), 0);
  EXPECT_FALSE(KeyExists(scratch.Handle(), "tree"));
  EXPECT_TRUE(KeyExists(scratch.Handle(), "treeSibling\\kept"));
}

TEST(MRegToolRemoveKeyTree, ChildlessAndMissingKeys) {
  ScratchKey scratch;
  RegCloseKey(scratch.CreateKey("leaf"));
  EXPECT_EQ(MRegTool::RemoveKeyTree(scratch.Handle(), L"leaf"), 0);
  EXPECT_FALSE(KeyExists(scratch.Handle(), "leaf"));
  EXPECT_EQ(MRegTool::RemoveKeyTree(scratch.Handle(), L"leaf"),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace corvane
