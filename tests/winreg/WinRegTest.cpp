// Windows registry code as a user writes it, against <windows.h> and
// corvane/winreg.h only: the handle's width and sign, wide text in wchar_t
// units stored as UTF-16, the names UNICODE picks, seeding from a .reg file
// and, on the emulated registry, a store per test.
#include <corvane/winreg.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>

#include "WinRegTestSupport.h"

namespace {

const wchar_t kTests[] = L"Software\\Corvane WinReg Tests";

std::wstring Widen(const char* text) {
  return std::wstring(text, text + std::strlen(text));
}

// Each test gets a fresh store (emulated) and its own key below kTests,
// removed with its tree when the test ends.
class WinReg : public testing::Test {
 protected:
  void SetUp() override {
    UseFreshStore();
    path_ =
        std::wstring(kTests) + L"\\" +
        Widen(testing::UnitTest::GetInstance()->current_test_info()->name());
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, kTests);
  }

  LSTATUS SetText(const wchar_t* name, const std::wstring& text,
                  DWORD type = REG_SZ) {
    return RegSetValueExW(
        key_, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
        static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
  }
  std::wstring GetText(const wchar_t* name, HKEY key = nullptr) {
    wchar_t buffer[64] = {};
    DWORD size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key ? key : key_, name, nullptr, nullptr,
                               reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    return std::wstring(buffer, size / sizeof(WCHAR)).c_str();
  }

  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST_F(WinReg, PredefinedKeysAreSignExtendedPointersThatComeBackAsGiven) {
  static_assert(sizeof(HKEY) == sizeof(void*));
  static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4);
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(HKEY_CLASSES_ROOT),
            std::intptr_t{INT32_MIN});
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(HKEY_LOCAL_MACHINE),
            std::intptr_t{INT32_MIN} + 2);

  // The platform's 32-bit handle must be widened the way the macros are.
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    HKEY same = nullptr;
    EXPECT_EQ(RegOpenKeyExW(root, nullptr, 0, KEY_READ, &same), ERROR_SUCCESS);
    EXPECT_EQ(same, root);
    EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
  }
  // An ordinary handle handed out keeps working through the conversion.
  HKEY child = nullptr;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &child),
      ERROR_SUCCESS);
  DWORD values = 99;
  EXPECT_EQ(
      RegQueryInfoKeyW(child, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &values, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(values, 0u);
  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);

  // A failed open leaves NULL in the result.
  HKEY result = HKEY_CURRENT_USER;
  EXPECT_EQ(RegOpenKeyExW(key_, L"missing", 0, KEY_READ, &result),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(result, nullptr);
}

// Windows knows a predefined key by the low 32 bits of its handle value,
// whatever the upper half holds.
TEST_F(WinReg, PredefinedKeysAreKnownByTheirLowHalf) {
  for (const std::uintptr_t upper :
       {std::uintptr_t{0}, std::uintptr_t{0x1234}}) {
    const auto machine =
        reinterpret_cast<HKEY>((upper << 32) | std::uintptr_t{0x80000002u});
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(machine, L"Software", 0, KEY_READ, &key),
              ERROR_SUCCESS)
        << upper;
    RegCloseKey(key);
  }
}

#ifdef CORVANE_EMULATED
// The system would crash or guess on these; the emulation refuses them.
TEST_F(WinReg, PointersThatAreNoSignExtendedHandleAreInvalid) {
  const auto marker = reinterpret_cast<HKEY>(std::uintptr_t{0xBEEF});
  HKEY key = marker;
  EXPECT_EQ(RegOpenKeyExA(nullptr, "x", 0, KEY_READ, &key),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(key, marker);  // turned away before the result is touched
  // A valid handle's low half under garbage must not reach that key.
  const auto stray = reinterpret_cast<HKEY>(
      reinterpret_cast<std::uintptr_t>(key_) | (std::uintptr_t{0x1234} << 32));
  EXPECT_EQ(RegSetValueExW(stray, L"x", 0, REG_NONE, nullptr, 0),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(stray), ERROR_INVALID_HANDLE);
}

// Handles opened through HKEY_CLASSES_ROOT carry Windows' tag, the low two
// bits 2, in the pointer-sized HKEY too (Wine tags none).
TEST_F(WinReg, ClassesHandlesAreTagged) {
  ASSERT_EQ(RegSetValueExW(key_, L"v", 0, REG_NONE, nullptr, 0), ERROR_SUCCESS);
  HKEY classes = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Corvane Tag Test", 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &classes, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(classes) & 3, 2u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(key_) & 3, 0u);
  EXPECT_EQ(RegSetValueExW(classes, L"v", 0, REG_NONE, nullptr, 0),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(classes), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Corvane Tag Test"),
            ERROR_SUCCESS);
}
#endif

TEST_F(WinReg, WideTextCrossesInWcharUnitsAndIsStoredAsUtf16) {
  // Outside the BMP: one wchar_t on Linux, a surrogate pair on Windows.
  const std::wstring text = L"caf\u00e9 \U0001F600";
  ASSERT_EQ(SetText(L"w", text), ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExW(key_, L"w", nullptr, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(size, (text.size() + 1) * sizeof(WCHAR));
  EXPECT_EQ(GetText(L"w"), text);

  // Too small by one character: 234 and the size it needs.
  std::wstring small(text.size(), L'#');
  size = static_cast<DWORD>(small.size() * sizeof(WCHAR));
  EXPECT_EQ(RegQueryValueExW(key_, L"w", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(small.data()), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, (text.size() + 1) * sizeof(WCHAR));

  // The ANSI view of the same value counts ANSI bytes, whatever WCHAR is.
  ASSERT_EQ(SetText(L"ascii", L"wide"), ERROR_SUCCESS);
  char ansi[16] = {};
  size = sizeof ansi;
  EXPECT_EQ(RegQueryValueExA(key_, "ascii", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(ansi), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(ansi, "wide");

  // Names too: a subkey's length comes back in wchar_t units.
  const std::wstring name = L"k\U0001F600";
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExW(key_, name.c_str(), 0, nullptr, 0, KEY_READ,
                            nullptr, &sub, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(sub);
  wchar_t found[16] = {};
  DWORD chars = ARRAYSIZE(found);
  ASSERT_EQ(
      RegEnumKeyExW(key_, 0, found, &chars, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(chars, name.size());
  EXPECT_EQ(std::wstring(found), name);
}

TEST_F(WinReg, RegGetValueCountsTheSameUnitsAndChecksTypes) {
  const wchar_t list[] = L"one\0two\0";
  ASSERT_EQ(RegSetValueExW(key_, L"list", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(list), sizeof list),
            ERROR_SUCCESS);
  const DWORD number = 7;
  ASSERT_EQ(
      RegSetValueExW(key_, L"number", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&number), sizeof number),
      ERROR_SUCCESS);

  wchar_t got[16] = {};
  DWORD size = sizeof got;
  DWORD type = 0;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, path_.c_str(), L"list",
                         RRF_RT_REG_MULTI_SZ, &type, got, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_MULTI_SZ});
  EXPECT_EQ(size, sizeof list);
  EXPECT_EQ(std::wstring(got, ARRAYSIZE(list)),
            std::wstring(list, ARRAYSIZE(list)));

  DWORD read = 0;
  size = sizeof read;
  EXPECT_EQ(RegGetValueW(key_, nullptr, L"number", RRF_RT_DWORD, nullptr, &read,
                         &size),
            ERROR_SUCCESS);
  EXPECT_EQ(read, number);
  size = sizeof got;
  EXPECT_EQ(RegGetValueW(key_, nullptr, L"number", RRF_RT_REG_SZ, nullptr, got,
                         &size),
            ERROR_UNSUPPORTED_TYPE);
}

TEST_F(WinReg, StructuresCrossBothWays) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  HKEY sub = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(key_, L"sub", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, &attributes, &sub, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
  RegCloseKey(sub);

  FILETIME written = {0, 0};
  EXPECT_EQ(
      RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, &written),
      ERROR_SUCCESS);
  EXPECT_NE(written.dwHighDateTime, 0u);
  FILETIME enumerated = {0, 0};
  wchar_t name[8];
  DWORD chars = ARRAYSIZE(name);
  EXPECT_EQ(RegEnumKeyExW(key_, 0, name, &chars, nullptr, nullptr, nullptr,
                          &enumerated),
            ERROR_SUCCESS);
  EXPECT_NE(enumerated.dwHighDateTime, 0u);
  // Past the end nothing is written.
  FILETIME untouched = {1, 2};
  chars = ARRAYSIZE(name);
  EXPECT_EQ(RegEnumKeyExW(key_, 1, name, &chars, nullptr, nullptr, nullptr,
                          &untouched),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(untouched.dwLowDateTime, 1u);
  EXPECT_EQ(untouched.dwHighDateTime, 2u);
}

TEST_F(WinReg, UnicodePicksTheWideNamesAndCIsServedToo) {
  static_assert(std::is_same_v<TCHAR, WCHAR>);
  static_assert(sizeof(TEXT("ab")) == 3 * sizeof(WCHAR));
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyEx(key_, TEXT("t"), 0, nullptr, 0, KEY_ALL_ACCESS,
                           nullptr, &sub, nullptr),
            ERROR_SUCCESS);
  const TCHAR text[] = TEXT("x");
  EXPECT_EQ(RegSetValueEx(sub, TEXT("v"), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  RegCloseKey(sub);
  EXPECT_EQ(RegDeleteTree(key_, TEXT("t")), ERROR_SUCCESS);

  // winreg_from_c.c is compiled as C without UNICODE: the ANSI names.
  const std::string path(path_.begin(), path_.end());
  EXPECT_EQ(WinRegFromC((path + "\\c").c_str()), 0);
}

TEST_F(WinReg, FormatMessageWideSaysWhatTheAnsiOneSays) {
  const DWORD flags =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char ansi[128];
  const DWORD ansiLength = FormatMessageA(
      flags, nullptr, ERROR_ACCESS_DENIED,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), ansi, sizeof ansi, nullptr);
  ASSERT_GT(ansiLength, 0u);
  wchar_t wide[128];
  const DWORD wideLength =
      FormatMessageW(flags, nullptr, ERROR_ACCESS_DENIED,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), wide,
                     ARRAYSIZE(wide), nullptr);
  EXPECT_EQ(std::wstring(wide, wideLength),
            Widen(std::string(ansi, ansiLength).c_str()));

  SetLastError(0);
  EXPECT_EQ(FormatMessageW(flags, nullptr, 0x2345678, 0, wide, ARRAYSIZE(wide),
                           nullptr),
            0u);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_MR_MID_NOT_FOUND});
}

// A regedit file written for the test as regedit writes one (UTF-16LE with
// a BOM, where hex(1) bytes are the UTF-16 text itself); removed after it.
class RegFile {
 public:
  explicit RegFile(const std::string& lines) {
    path_ = (std::filesystem::temp_directory_path() /
             ("corvane-winreg-" + std::to_string(++count_) + ".reg"))
                .string();
    std::string bytes = "\xff\xfe";
    for (char c : "Windows Registry Editor Version 5.00\r\n\r\n" + lines) {
      bytes += c;
      bytes += '\0';
    }
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  ~RegFile() { std::filesystem::remove(path_); }
  const char* Path() const { return path_.c_str(); }

 private:
  static inline int count_ = 0;
  std::string path_;
};

TEST_F(WinReg, ImportSeedsTheRegistryInOneCallOrNotAtAll) {
  const std::string key =
      "[HKEY_CURRENT_USER\\Software\\Corvane WinReg Tests\\"
      "ImportSeedsTheRegistryInOneCallOrNotAtAll";
  // U+1F600 as a UTF-16 surrogate pair, written as bytes: it comes back as
  // the one character on either system.
  const RegFile good(key + "\\seeded]\r\n" +
                     "\"text\"=\"seeded\"\r\n"
                     "\"smile\"=hex(1):3d,d8,00,de,00,00\r\n"
                     "\"n\"=dword:0000002a\r\n");
  ASSERT_EQ(CorvaneImportRegFile(good.Path()), ERROR_SUCCESS)
      << CorvaneImportRegFileError();
  EXPECT_STREQ(CorvaneImportRegFileError(), "");
  HKEY seeded = nullptr;
  ASSERT_EQ(RegOpenKeyExW(key_, L"seeded", 0, KEY_READ, &seeded),
            ERROR_SUCCESS);
  EXPECT_EQ(GetText(L"text", seeded), L"seeded");
  EXPECT_EQ(GetText(L"smile", seeded), L"\U0001F600");
  RegCloseKey(seeded);

  // A bad line anywhere: nothing applied, and the error names the line.
  const RegFile bad(key + "\\never]\r\n" + "\"n\"=dword:zz\r\n");
  EXPECT_EQ(CorvaneImportRegFile(bad.Path()), ERROR_INVALID_DATA);
  EXPECT_NE(std::string(CorvaneImportRegFileError()).find(":4:"),
            std::string::npos)
      << CorvaneImportRegFileError();
  HKEY never = nullptr;
  EXPECT_EQ(RegOpenKeyExW(key_, L"never", 0, KEY_READ, &never),
            ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(CorvaneImportRegFile("no such file.reg"), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(std::string(CorvaneImportRegFileError()), "");
}

#ifdef CORVANE_EMULATED
TEST_F(WinReg, EachStoreIsARegistryOfItsOwn) {
  const char* first = std::getenv("CORVANE_REGISTRY");
  ASSERT_NE(first, nullptr);
  const std::string firstStore = first;
  ASSERT_EQ(SetText(L"here", L"1"), ERROR_SUCCESS);

  UseFreshStore();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  // Handles belong to the store they were opened in.
  EXPECT_EQ(RegQueryValueExW(key_, L"here", nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_HANDLE);

  setenv("CORVANE_REGISTRY", firstStore.c_str(), 1);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, L"here", nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}
#endif

// Saving and loading as Windows code does it: the privileges first (on
// Windows; the stand-in has no tokens), the W forms, UNICODE's names.
TEST_F(WinReg, HivesSaveLoadAndUnloadThroughTheWideNames) {
#ifndef CORVANE_EMULATED
  HANDLE token = nullptr;
  ASSERT_TRUE(
      OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  for (const wchar_t* name : {L"SeBackupPrivilege", L"SeRestorePrivilege"}) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ASSERT_TRUE(
        LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid));
    ASSERT_TRUE(
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  }
  CloseHandle(token);
#endif
  ASSERT_EQ(SetText(L"saved", L"yes"), ERROR_SUCCESS);
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("corvane-winreg-hive-" + std::to_string(std::rand()) + ".hiv");
  std::filesystem::remove(file);
  ASSERT_EQ(
      RegSaveKeyEx(key_, file.wstring().c_str(), nullptr, REG_LATEST_FORMAT),
      ERROR_SUCCESS);
  const wchar_t mount[] = L"Corvane WinReg Hive";
  ASSERT_EQ(RegLoadKey(HKEY_USERS, mount, file.wstring().c_str()),
            ERROR_SUCCESS);
  HKEY loaded = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_USERS, mount, 0, KEY_READ, &loaded),
            ERROR_SUCCESS);
  EXPECT_EQ(GetText(L"saved", loaded), L"yes");
  RegCloseKey(loaded);
  EXPECT_EQ(RegUnLoadKey(HKEY_USERS, mount), ERROR_SUCCESS);
  std::filesystem::remove(file);
}

}  // namespace
