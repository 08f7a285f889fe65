// The tree and value functions through <windows.h> as a user calls them,
// with UNICODE: the unsuffixed names, VALENT and the pointer-sized HKEY
// crossing into the registry and back.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "WinRegTestSupport.h"

namespace {

const wchar_t kTrees[] = L"Software\\Corvane WinReg Trees";

class WinRegTrees : public testing::Test {
 protected:
  void SetUp() override {
    UseFreshStore();
    RegDeleteTreeW(HKEY_CURRENT_USER, kTrees);
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, kTrees, &key_), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kTrees);
  }

  HKEY key_ = nullptr;
};

TEST_F(WinRegTrees, CopyAndReadBackThroughTheUnsuffixedNames) {
  const DWORD number = 7;
  ASSERT_EQ(RegSetKeyValue(key_, TEXT("From\\Sub"), TEXT("Number"), REG_DWORD,
                           &number, sizeof number),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(key_, TEXT("From"), REG_SZ, TEXT("default"), 0),
            ERROR_SUCCESS);
  HKEY to = nullptr;
  ASSERT_EQ(RegCreateKey(key_, TEXT("To"), &to), ERROR_SUCCESS);
  ASSERT_EQ(RegCopyTree(key_, TEXT("From"), to), ERROR_SUCCESS);

  TCHAR text[16];
  LONG size = sizeof text;
  EXPECT_EQ(RegQueryValue(to, nullptr, text, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(text), L"default");

  TCHAR name[] = TEXT("Number");
  VALENT entries[1] = {{name, 0, 0, 0}};
  DWORD data[2] = {};
  DWORD total = sizeof data;
  HKEY sub = nullptr;
  ASSERT_EQ(RegOpenKey(to, TEXT("Sub"), &sub), ERROR_SUCCESS);
  ASSERT_EQ(RegQueryMultipleValues(sub, entries, 1,
                                   reinterpret_cast<LPTSTR>(data), &total),
            ERROR_SUCCESS);
  EXPECT_EQ(total, sizeof number);
  EXPECT_EQ(entries[0].ve_valueptr, reinterpret_cast<DWORD_PTR>(data));
  EXPECT_EQ(data[0], number);
  RegCloseKey(sub);

  EXPECT_EQ(RegEnumKey(to, 0, name, 7), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name), L"Sub");
  EXPECT_EQ(RegDeleteKeyValue(to, TEXT("Sub"), TEXT("Number")), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyEx(to, TEXT("Sub"), KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
  RegCloseKey(to);

  // No subkey: the very handle given, a predefined one sign-extended.
  HKEY same = nullptr;
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, nullptr, &same), ERROR_SUCCESS);
  EXPECT_EQ(same, HKEY_LOCAL_MACHINE);
}

}  // namespace
