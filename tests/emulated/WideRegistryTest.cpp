// The emulated registry's wide functions where Linux differs from Windows:
// wchar_t is UTF-32 here while the store keeps UTF-16, so the same text has
// different lengths and sizes through the W and the A functions. Also what
// the emulation does as Microsoft documents it and Wine doesn't, and the
// wide functions through the test hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/TestHooks.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

static_assert(sizeof(wchar_t) == 4,
              "the emulation runs where wchar_t is 32-bit");

LONG SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * 4));
}

struct Info {
  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxValueName = 0, maxData = 0;
};

// The counts and largest sizes through the W function, or the A one.
Info Query(HKEY key, bool wide = true) {
  Info info;
  const auto query = [&](auto function) {
    return function(key, nullptr, nullptr, nullptr, &info.subkeys,
                    &info.maxSubkey, nullptr, &info.values, &info.maxValueName,
                    &info.maxData, nullptr, nullptr);
  };
  EXPECT_EQ(wide ? query(RegQueryInfoKeyW) : query(RegQueryInfoKeyA),
            ERROR_SUCCESS);
  return info;
}

class WideRegistry : public ::testing::Test {
 protected:
  ~WideRegistry() override { emulated::ClearDenials(); }
  HKEY Scratch() const { return scratch_.Handle(); }
  HKEY Create(HKEY parent, const std::wstring& path) {
    HKEY key = 0;
    EXPECT_EQ(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }

  testing::ScratchKey scratch_;
};

TEST_F(WideRegistry, OneCharacterBeyondTheBmpIsOneUnitWideAndTwoAnsi) {
  RegCloseKey(Create(Scratch(), L"\U0001F600"));
  ASSERT_EQ(SetText(Scratch(), L"\U0001F511k", L"\U0001F600x"), ERROR_SUCCESS);

  // Wide: one unit for the emoji, four bytes a unit of data.
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExW(Scratch(), L"\U0001F511K", nullptr, nullptr,
                             nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 12u);
  const Info wide = Query(Scratch());
  EXPECT_EQ(wide.maxSubkey, 1u);
  EXPECT_EQ(wide.maxValueName, 2u);
  EXPECT_EQ(wide.maxData, 12u);

  // ANSI: a "?" for each UTF-16 half; the largest sizes are the store's.
  char name[8];
  BYTE data[8];
  DWORD length = sizeof name;
  size = sizeof data;
  ASSERT_EQ(
      RegEnumValueA(Scratch(), 0, name, &length, nullptr, nullptr, data, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, length), "??k");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size),
            std::string("??x\0", 4));
  length = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(Scratch(), 0, name, &length, nullptr, nullptr,
                          nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, length), "??");
  const Info ansi = Query(Scratch(), false);
  EXPECT_EQ(ansi.maxSubkey, 2u);
  EXPECT_EQ(ansi.maxValueName, 3u);
  EXPECT_EQ(ansi.maxData, 8u) << "four UTF-16 units";
}

TEST_F(WideRegistry, WhatUtf16CantHoldAndBytesPastTheLastUnit) {
  // A unit past U+10FFFF has no UTF-16 form: it is kept as U+FFFD.
  const std::wstring outOfRange = {L'a', static_cast<wchar_t>(0x110000)};
  RegCloseKey(Create(Scratch(), outOfRange));
  wchar_t name[8];
  DWORD length = 8;
  ASSERT_EQ(RegEnumKeyExW(Scratch(), 0, name, &length, nullptr, nullptr,
                          nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name, length), L"a\uFFFD");

  // String data is read in whole units; other data is bytes.
  const wchar_t text[] = L"ab";
  ASSERT_EQ(RegSetValueExW(Scratch(), L"cut", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text), 10),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(Scratch(), L"odd", 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(text), 5),
            ERROR_SUCCESS);
  DWORD size = 0;
  ASSERT_EQ(
      RegQueryValueExW(Scratch(), L"cut", nullptr, nullptr, nullptr, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  ASSERT_EQ(
      RegQueryValueExW(Scratch(), L"odd", nullptr, nullptr, nullptr, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
}

TEST_F(WideRegistry, MergedClassesCountInWideUnits) {
  // A key of HKEY_CLASSES_ROOT with a copy on each side: its subkeys are
  // both copies', and the longest name is counted in the caller's units.
  const std::wstring name = L"Corvane.WideTest";
  RegCloseKey(Create(HKEY_CURRENT_USER, L"Software\\Classes\\" + name +
                                            L"\\\U0001F600\U0001F600"));
  RegCloseKey(
      Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\" + name + L"\\abc"));
  HKEY merged = 0;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &merged),
      ERROR_SUCCESS);
  const Info wide = Query(merged);
  EXPECT_EQ(wide.subkeys, 2u);
  EXPECT_EQ(wide.maxSubkey, 3u);
  EXPECT_EQ(Query(merged, false).maxSubkey, 4u);
  RegCloseKey(merged);
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER,
                           (L"Software\\Classes\\" + name).c_str()),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                           (L"SOFTWARE\\Classes\\" + name).c_str()),
            ERROR_SUCCESS);
}

// Microsoft documents these; Wine answers otherwise (see each case).
TEST_F(WideRegistry, DeleteTreeNeedsItsRightsAndIsAllOrNothing) {
  for (const wchar_t* path : {L"Tree\\A\\Deep", L"Tree\\B"}) {
    RegCloseKey(Create(Scratch(), path));
  }
  // One key below refuses deletion: nothing goes. Wine deletes the rest.
  emulated::DenyAccess(HKEY_CURRENT_USER,
                       (scratch_.Path() + "\\Tree\\A\\Deep").c_str(), DELETE);
  EXPECT_EQ(RegDeleteTreeW(Scratch(), L"Tree"), ERROR_ACCESS_DENIED);
  HKEY tree = 0;
  ASSERT_EQ(RegOpenKeyExW(Scratch(), L"Tree", 0, KEY_ALL_ACCESS, &tree),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(tree, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Query(tree).subkeys, 2u);
  RegCloseKey(tree);
  emulated::ClearDenials();

  // Emptying a key through its handle wants DELETE, KEY_ENUMERATE_SUB_KEYS
  // and KEY_QUERY_VALUE on it; Wine doesn't look.
  ASSERT_EQ(RegOpenKeyExW(Scratch(), L"Tree", 0, KEY_READ, &tree),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(tree, nullptr), ERROR_ACCESS_DENIED);
  RegCloseKey(tree);
  ASSERT_EQ(RegOpenKeyExW(Scratch(), L"Tree", 0, KEY_READ | DELETE, &tree),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(tree, L""), ERROR_SUCCESS);
  EXPECT_EQ(Query(tree).subkeys, 0u);
  RegCloseKey(tree);

  // The predefined keys' own keys are emptied, never deleted.
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes"),
            ERROR_ACCESS_DENIED);
}

TEST_F(WideRegistry, GetValueWithAnyTypeTakesEveryType) {
  // RRF_RT_ANY is no restriction; Wine refuses types without an RRF_RT_
  // flag of their own.
  const BYTE link[] = {'x', 0};
  ASSERT_EQ(RegSetValueExW(Scratch(), L"link", 0, REG_LINK, link, 2),
            ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegGetValueW(Scratch(), nullptr, L"link", RRF_RT_ANY, &type,
                         nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_LINK});
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(RegGetValueW(Scratch(), nullptr, L"link", RRF_RT_REG_BINARY,
                         nullptr, nullptr, nullptr),
            ERROR_UNSUPPORTED_TYPE);
}

}  // namespace
}  // namespace corvane::platform
