// The registry's two views, against <windows.h> as a user's tests would be:
// which keys the 32-bit view finds below Wow6432Node and which both views
// share, the view flags of each call, handles keeping their view, and a new
// store's Wow6432Node keys. Runs on the emulation and, in the Windows
// build, on Wine's registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "WinRegTestSupport.h"

#ifdef CORVANE_EMULATED
#include <stdlib.h>
#endif

namespace {

const wchar_t kName[] = L"Corvane View Test";
const wchar_t kSoftware[] = L"Software\\Corvane View Test";
const wchar_t kNode[] = L"Software\\Wow6432Node\\Corvane View Test";
const wchar_t kClsid[] = L"CLSID\\{C0A7A4E0-0000-4000-8000-000000000001}";
const wchar_t kAppId[] = L"AppID\\{C0A7A4E0-0000-4000-8000-000000000001}";

LSTATUS Open(HKEY root, const wchar_t* path, REGSAM view, HKEY* key) {
  return RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS | view, key);
}

bool Exists(HKEY root, const wchar_t* path, REGSAM view) {
  HKEY key = nullptr;
  const LSTATUS status = Open(root, path, view, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

LSTATUS Create(HKEY root, const wchar_t* path, REGSAM view) {
  HKEY key = nullptr;
  const LSTATUS status = RegCreateKeyExW(
      root, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

std::vector<std::wstring> Subkeys(HKEY key) {
  std::vector<std::wstring> names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      return names;
    }
    names.emplace_back(name, length);
  }
}

bool Lists(HKEY key, const wchar_t* name) {
  for (const std::wstring& listed : Subkeys(key)) {
    if (listed == name) return true;
  }
  return false;
}

class RegistryView : public testing::Test {
 protected:
  void SetUp() override {
    UseFreshStore();
    CleanUp();
  }
  void TearDown() override { CleanUp(); }

  // Whatever a case left in either view.
  static void CleanUp() {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY key = nullptr;
      for (const auto& [root, path] :
           {std::pair{HKEY_LOCAL_MACHINE, std::wstring(kSoftware)},
            std::pair{HKEY_LOCAL_MACHINE,
                      L"Software\\Clients\\" + std::wstring(kName)},
            std::pair{HKEY_CLASSES_ROOT, std::wstring(kClsid)},
            std::pair{HKEY_CLASSES_ROOT, std::wstring(kAppId)}}) {
        if (Open(root, path.c_str(), view, &key) == ERROR_SUCCESS) {
          RegDeleteTreeW(key, nullptr);
          RegCloseKey(key);
          RegDeleteKeyExW(root, path.c_str(), view, 0);
        }
      }
    }
  }
};

// A key made below HKLM\SOFTWARE in the 32-bit view lives below
// Wow6432Node: the 64-bit view finds it there only, and the 32-bit view
// finds it by its plain path. Deleting it in the 64-bit view by the plain
// path finds nothing.
TEST_F(RegistryView, MachineSoftwareIsRedirectedInThe32BitView) {
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_32KEY),
            ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_32KEY));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kNode, KEY_WOW64_64KEY));
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_64KEY));
  // The explicit path works in the 32-bit view too.
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kNode, KEY_WOW64_32KEY));
  EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_64KEY, 0),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_32KEY, 0),
            ERROR_SUCCESS);
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kNode, KEY_WOW64_64KEY));

  // A key of the 64-bit view is not the 32-bit view's.
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_64KEY),
            ERROR_SUCCESS);
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_32KEY));
}

// A handle keeps the view it was opened in: what is opened, created,
// listed or read through it without a flag is in that view.
TEST_F(RegistryView, AHandleKeepsItsView) {
  HKEY software32 = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_32KEY, &software32),
            ERROR_SUCCESS);
  HKEY made = nullptr;
  ASSERT_EQ(RegCreateKeyExW(software32, kName, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &made, nullptr),
            ERROR_SUCCESS);
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExW(made, L"v", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&one), sizeof one),
            ERROR_SUCCESS);
  // Relative to the new key too.
  HKEY child = nullptr;
  ASSERT_EQ(RegCreateKeyExW(made, L"Child", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &child, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(child);
  RegCloseKey(made);

  EXPECT_TRUE(Lists(software32, kName));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE,
                     (std::wstring(kNode) + L"\\Child").c_str(),
                     KEY_WOW64_64KEY));
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_64KEY));
  DWORD data = 0, size = sizeof data;
  EXPECT_EQ(RegGetValueW(software32, kName, L"v", RRF_RT_REG_DWORD, nullptr,
                         &data, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(data, 1u);

  HKEY software64 = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_64KEY, &software64),
            ERROR_SUCCESS);
  EXPECT_FALSE(Lists(software64, kName));
  EXPECT_TRUE(Lists(software64, L"Wow6432Node"));
  EXPECT_FALSE(Exists(software64, kName, 0));
  RegCloseKey(software64);
  RegCloseKey(software32);
}

// The tree and by-subkey calls, which take no view flag, work in their
// handle's view.
TEST_F(RegistryView, TreeCallsWorkInTheirHandlesView) {
  HKEY software32 = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_32KEY, &software32),
            ERROR_SUCCESS);
  const wchar_t text[] = L"x";
  ASSERT_EQ(RegSetKeyValueW(software32, kName, L"w", REG_SZ, text, sizeof text),
            ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kNode, KEY_WOW64_64KEY));
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_64KEY));

  // Copied from the 32-bit view into the 64-bit one.
  HKEY to = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSoftware, 0, nullptr, 0,
                      KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &to, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(RegCopyTreeW(software32, kName, to), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(to, L"w", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  RegCloseKey(to);

  EXPECT_EQ(RegDeleteTreeW(software32, kName), ERROR_SUCCESS);
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kNode, KEY_WOW64_64KEY));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_64KEY));
  RegCloseKey(software32);
}

// RegGetValue's subkey flags choose the view of its subkey; both at once
// are refused.
TEST_F(RegistryView, RegGetValueTakesItsSubkeyFlags) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSoftware, 0, nullptr, 0,
                      KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  const DWORD seven = 7;
  ASSERT_EQ(RegSetValueExW(key, L"v", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&seven), sizeof seven),
            ERROR_SUCCESS);
  RegCloseKey(key);
  DWORD data = 0, size = sizeof data;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSoftware, L"v",
                         RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6432KEY, nullptr,
                         &data, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(data, 7u);
  size = sizeof data;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSoftware, L"v",
                         RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr,
                         &data, &size),
            ERROR_FILE_NOT_FOUND);
  size = sizeof data;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSoftware, L"v",
                         RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6432KEY |
                             RRF_SUBKEY_WOW6464KEY,
                         nullptr, &data, &size),
            ERROR_INVALID_PARAMETER);
}

// Both KEY_WOW64 flags at once are taken (Wine: as the 32-bit view) by
// open, create and RegDeleteKeyEx alike.
TEST_F(RegistryView, BothFlagsAtOnceAskForThe32BitView) {
  const REGSAM both = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kSoftware, both), ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kNode, KEY_WOW64_64KEY));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kSoftware, both));
  EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSoftware, both, 0),
            ERROR_SUCCESS);
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kNode, KEY_WOW64_64KEY));
}

// Below the classes, CLSID (with DirectShow, Interface, Media Type and
// MediaFoundation) moves to Classes\Wow6432Node, which
// SOFTWARE\Wow6432Node\Classes links to; AppID is shared.
TEST_F(RegistryView, ClassesRedirectOnlyTheirListedKeys) {
  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, kClsid, KEY_WOW64_32KEY), ERROR_SUCCESS);
  const std::wstring inNode =
      std::wstring(L"Software\\Classes\\Wow6432Node\\") + kClsid;
  const std::wstring throughLink =
      std::wstring(L"Software\\Wow6432Node\\Classes\\") + kClsid;
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, inNode.c_str(), KEY_WOW64_64KEY));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, throughLink.c_str(), KEY_WOW64_64KEY));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, kClsid, KEY_WOW64_32KEY));
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, kClsid, KEY_WOW64_64KEY));
  // The machine's classes path in the 32-bit view redirects the same way.
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE,
                     (std::wstring(L"Software\\Classes\\") + kClsid).c_str(),
                     KEY_WOW64_32KEY));

  ASSERT_EQ(Create(HKEY_CLASSES_ROOT, kAppId, KEY_WOW64_32KEY), ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, kAppId, KEY_WOW64_64KEY));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE,
                     (std::wstring(L"Software\\Classes\\") + kAppId).c_str(),
                     KEY_WOW64_64KEY));
}

// Keys Microsoft lists as shared are one key in both views, opened and
// listed through the 32-bit view's SOFTWARE too. Wine redirects them (its
// Wow6432Node has a Clients key of its own).
TEST_F(RegistryView, SharedKeysAreOneKeyInBothViews) {
  if (UnderWine()) GTEST_SKIP() << "Wine redirects the shared keys";
  const std::wstring clients = L"Software\\Clients\\" + std::wstring(kName);
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, clients.c_str(), KEY_WOW64_32KEY),
            ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, clients.c_str(), KEY_WOW64_64KEY));
  // Listed in the 32-bit view, where the Wow6432Node copy lacks it.
  HKEY software32 = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_32KEY, &software32),
            ERROR_SUCCESS);
  EXPECT_TRUE(Lists(software32, L"Clients"));
  EXPECT_FALSE(Lists(software32, L"Wow6432Node"));
  HKEY clients32 = nullptr;
  ASSERT_EQ(Open(software32, L"Clients", 0, &clients32), ERROR_SUCCESS);
  EXPECT_TRUE(Lists(clients32, kName));
  RegCloseKey(clients32);
  RegCloseKey(software32);
  EXPECT_EQ(
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, clients.c_str(), KEY_WOW64_64KEY, 0),
      ERROR_SUCCESS);
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, clients.c_str(), KEY_WOW64_32KEY));
}

// A new registry has the keys the 32-bit view needs, as Windows has them:
// SOFTWARE\Wow6432Node with its Classes link, and Classes\Wow6432Node.
TEST_F(RegistryView, ANewRegistryHasTheWow6432NodeKeys) {
  HKEY node = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node", 0,
                          KEY_READ | KEY_WOW64_64KEY, &node),
            ERROR_SUCCESS);
  EXPECT_TRUE(Lists(node, L"Classes"));
  RegCloseKey(node);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Wow6432Node",
                     KEY_WOW64_64KEY));
}

#ifdef CORVANE_EMULATED
// A program's own view: 64-bit here, 32-bit when
// CORVANE_REGISTRY_PROGRAM_BITS says so (read with each new store).
TEST_F(RegistryView, TheProgramsOwnViewIsTheDefault) {
  ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, kSoftware, 0), ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_64KEY));
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, kNode, KEY_WOW64_64KEY));

  setenv("CORVANE_REGISTRY_PROGRAM_BITS", "32", 1);
  UseFreshStore();
  const LSTATUS created = Create(HKEY_LOCAL_MACHINE, kSoftware, 0);
  const bool inNode = Exists(HKEY_LOCAL_MACHINE, kNode, KEY_WOW64_64KEY);
  const bool inSoftware =
      Exists(HKEY_LOCAL_MACHINE, kSoftware, KEY_WOW64_64KEY);
  const bool seen = Exists(HKEY_LOCAL_MACHINE, kSoftware, 0);
  unsetenv("CORVANE_REGISTRY_PROGRAM_BITS");
  UseFreshStore();
  EXPECT_EQ(created, ERROR_SUCCESS);
  EXPECT_TRUE(inNode);
  EXPECT_FALSE(inSoftware);
  EXPECT_TRUE(seen);
}
#endif

}  // namespace
