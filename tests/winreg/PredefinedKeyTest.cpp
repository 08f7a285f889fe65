// The calls about predefined keys, against <windows.h> as a user's tests
// would be: overriding one for the process, the current user's key, the
// local "remote" registry, the predefined keys beyond the first seven, and
// reflection as 64-bit Windows answers it since reflection was removed.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "WinRegTestSupport.h"

#ifdef CORVANE_EMULATED
#include <unistd.h>
#endif

namespace {

const wchar_t kScratch[] = L"Software\\Corvane Predefined Tests";

class PredefinedKey : public testing::Test {
 protected:
  void SetUp() override {
    UseFreshStore();
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &scratch_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(scratch_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
  }

  HKEY scratch_ = nullptr;
};

bool Exists(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  const LSTATUS status = RegOpenKeyExW(root, path, 0, KEY_READ, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

// Installer and test code points HKEY_LOCAL_MACHINE at a scratch key, works
// through the predefined handle, and puts it back with NULL.
TEST_F(PredefinedKey, OverrideRedirectsThePredefinedKeyUntilUndone) {
  HKEY target = nullptr;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_CURRENT_USER, kScratch, 0, KEY_ALL_ACCESS, &target),
      ERROR_SUCCESS);
  ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, target), ERROR_SUCCESS);
  // The override holds a key of its own: the caller's handle may go.
  EXPECT_EQ(RegCloseKey(target), ERROR_SUCCESS);

  HKEY made = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Redirected", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &made, nullptr),
            ERROR_SUCCESS);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, L"Flag", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&one), sizeof one),
            ERROR_SUCCESS);
  RegCloseKey(made);
  EXPECT_TRUE(Exists(scratch_, L"Redirected"));
  DWORD value = 0, size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(scratch_, L"Flag", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, L"Software"));

  // Other predefined keys are untouched.
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER, kScratch));

  ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, L"Software"));
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, L"Redirected"));
  // Undoing twice is harmless.
  EXPECT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr), ERROR_SUCCESS);
}

TEST_F(PredefinedKey, OverrideTakesOnlyPredefinedKeysAndOpenTargets) {
  EXPECT_EQ(RegOverridePredefKey(scratch_, nullptr), ERROR_INVALID_HANDLE);
  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kScratch, 0, KEY_READ, &closed),
            ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  EXPECT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, closed),
            ERROR_INVALID_HANDLE);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, L"Software"));
}

TEST_F(PredefinedKey, CurrentUserOpensTheUsersOwnKey) {
  HKEY user = nullptr;
  ASSERT_EQ(RegOpenCurrentUser(KEY_READ, &user), ERROR_SUCCESS);
  EXPECT_NE(user, HKEY_CURRENT_USER);
  EXPECT_TRUE(Exists(user, kScratch));
  EXPECT_EQ(RegCloseKey(user), ERROR_SUCCESS);
  EXPECT_EQ(RegDisablePredefinedCache(), ERROR_SUCCESS);
#ifdef CORVANE_EMULATED
  // Documented to succeed; Wine lacks the function.
  EXPECT_EQ(RegDisablePredefinedCacheEx(), ERROR_SUCCESS);
#endif
}

TEST_F(PredefinedKey, ConnectingToThisMachineGivesThePredefinedKey) {
  for (const wchar_t* machine : {static_cast<const wchar_t*>(nullptr), L""}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegConnectRegistryW(machine, HKEY_LOCAL_MACHINE, &key),
              ERROR_SUCCESS);
    EXPECT_TRUE(Exists(key, L"Software"));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
  HKEY key = nullptr;
  ASSERT_EQ(RegConnectRegistryA(nullptr, HKEY_USERS, &key), ERROR_SUCCESS);
  RegCloseKey(key);
#ifdef CORVANE_EMULATED
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  for (const std::string& name :
       {std::string(host), "\\\\" + std::string(host)}) {
    key = nullptr;
    EXPECT_EQ(RegConnectRegistryA(name.c_str(), HKEY_LOCAL_MACHINE, &key),
              ERROR_SUCCESS)
        << name;
    RegCloseKey(key);
  }
  key = nullptr;
  EXPECT_EQ(RegConnectRegistryW(L"\\\\corvane-no-such-machine",
                                HKEY_LOCAL_MACHINE, &key),
            ERROR_BAD_NETPATH);
  EXPECT_EQ(key, nullptr);
#endif
}

TEST_F(PredefinedKey, PerformanceTextsReadAsPerformanceData) {
  for (HKEY performance : {HKEY_PERFORMANCE_TEXT, HKEY_PERFORMANCE_NLSTEXT}) {
    DWORD size = 0;
    EXPECT_NE(RegQueryValueExW(performance, L"Corvane No Such Value", nullptr,
                               nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
  }
}

#ifdef CORVANE_EMULATED
// Windows 7 and later keep the user's local settings below the user's
// classes; Wine knows no such predefined key (6).
TEST_F(PredefinedKey, LocalSettingsAreTheUsersClassesLocalSettings) {
  HKEY made = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_CURRENT_USER_LOCAL_SETTINGS, L"Corvane", 0, nullptr,
                      0, KEY_ALL_ACCESS, nullptr, &made, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(made);
  EXPECT_TRUE(
      Exists(HKEY_CURRENT_USER, L"Software\\Classes\\Local Settings\\Corvane"));
  EXPECT_TRUE(Exists(HKEY_CURRENT_USER_LOCAL_SETTINGS, L"Corvane"));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER_LOCAL_SETTINGS, L"Corvane"),
            ERROR_SUCCESS);
}

// Reflection was removed from 64-bit Windows 7: the calls succeed and
// nothing is reflected. Wine answers 120 to two of them.
TEST_F(PredefinedKey, ReflectionIsGone) {
  BOOL disabled = FALSE;
  EXPECT_EQ(RegQueryReflectionKey(scratch_, &disabled), ERROR_SUCCESS);
  EXPECT_EQ(disabled, TRUE);
  EXPECT_EQ(RegDisableReflectionKey(scratch_), ERROR_SUCCESS);
  EXPECT_EQ(RegEnableReflectionKey(scratch_), ERROR_SUCCESS);
  const auto closed = reinterpret_cast<HKEY>(std::uintptr_t{0x7ff0});
  EXPECT_EQ(RegDisableReflectionKey(closed), ERROR_INVALID_HANDLE);
}
#endif

}  // namespace
