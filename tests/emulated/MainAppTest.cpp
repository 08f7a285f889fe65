// The repair's paths that need a registry which refuses things: a driver
// registration that won't open for full access, and an AppID key that won't
// take a new registration; and registrations made for one user, which Wine's
// registry would not merge into HKEY_CLASSES_ROOT as Windows does. The plain
// paths run end to end in tests/e2e/.
#include <gtest/gtest.h>

#include "app/MainApp.h"
#include "errors/RaisedError.h"
#include "platform/Platform.h"
#include "platform/emulated/TestHooks.h"

namespace corvane {
namespace {

using namespace platform;
namespace hooks = platform::emulated;

constexpr const char* kClasses = "SOFTWARE\\Classes\\AppID";
constexpr const char* kDriverGuid = "{4A017BC9-347F-4745-A1A8-993E83E8A331}";

class MainAppTest : public ::testing::Test {
 protected:
  MainAppTest() { hooks::ResetRegistry(); }
  ~MainAppTest() override {
    MainApp::ReleaseAppNode();
    hooks::ClearDenials();
    hooks::SetUntranslatable(L'\0');
    hooks::ResetRegistry();
  }

  // Creates `path` below `root`, with the string `name` = `text` if named.
  static void Key(const std::string& path, const char* name = nullptr,
                  const std::string& text = "", HKEY root = HKEY_CLASSES_ROOT) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (name != nullptr) {
      RegSetValueExA(key, name, 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
    }
    RegCloseKey(key);
  }
  // `exe`'s registration naming `appId`, and the AppID key it names.
  static void Registration(const std::string& exe, const std::string& appId) {
    Key("AppID\\" + exe, "AppID", appId);
    Key("AppID\\" + appId);
  }
  // The level stored under `path`, or -1 when there is none.
  static long Level(const std::string& path, HKEY root = HKEY_CLASSES_ROOT) {
    HKEY key = 0;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
      return -1;
    }
    DWORD type = 0, value = 0, size = sizeof value;
    const LONG status =
        RegQueryValueExA(key, "AuthenticationLevel", nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD ? long(value) : -1;
  }
};

TEST_F(MainAppTest,
       DriverKeyThatRefusesFullAccessIsCreatedOverWithWriteAccess) {
  Registration("TheSky Version 6.EXE", "{A}");
  Key("AppID\\Gemini Driver.exe", "AppID", kDriverGuid);
  // Full access includes DELETE; denying it alone makes the probe fail
  // while KEY_WRITE still opens the key.
  hooks::DenyAccess(HKEY_LOCAL_MACHINE,
                    (std::string(kClasses) + "\\Gemini Driver.exe").c_str(),
                    DELETE);

  EXPECT_FALSE(MainApp::GeminiDriverHasAppID());
  EXPECT_NO_THROW(MainApp::Main());

  EXPECT_EQ(Level("AppID\\{A}"), 1);
  // The driver's key can't be opened for full access, so its AppID can't be
  // read back: its level stays unset, and nothing lands on AppID itself.
  EXPECT_EQ(Level("AppID"), -1);
  EXPECT_EQ(Level(std::string("AppID\\") + kDriverGuid), -1);
}

TEST_F(MainAppTest, RegistrationThatCannotBeCreatedIsTheOneReportedFailure) {
  Registration("TheSky Version 6.EXE", "{A}");
  hooks::DenyAccess(HKEY_LOCAL_MACHINE, kClasses, KEY_CREATE_SUB_KEY);

  try {
    MainApp::Main();
    FAIL() << "the repair reported nothing";
  } catch (const RaisedError& error) {
    EXPECT_EQ(error.Number(), static_cast<std::int32_t>(0x80040400));
    EXPECT_EQ(error.Source(), L"Corvane Utility");
    EXPECT_EQ(error.Description(),
              L"Failed to Fix The Sky to work with Gemini Driver");
  }
  // The planetarium's step ran before the failure.
  EXPECT_EQ(Level("AppID\\{A}"), 1);
}

TEST_F(MainAppTest, AnAppIdOfBackslashesOnlyIsPassedOver) {
  // The registry takes AppID followed by backslashes alone as AppID itself.
  Key("AppID\\TheSky Version 6.EXE", "AppID", "\\");
  Key("AppID\\Sky.EXE", "AppID", "\\\\\\");
  Registration("Gemini Driver.exe", kDriverGuid);

  EXPECT_NO_THROW(MainApp::Main());

  EXPECT_EQ(Level("AppID"), -1);
  EXPECT_EQ(Level(std::string("AppID\\") + kDriverGuid), 1);
}

TEST_F(MainAppTest, AnAppIdTheCodePageCantCarryWritesNowhere) {
  Registration("TheSky Version 6.EXE", "{\xE9}");
  Registration("Gemini Driver.exe", kDriverGuid);
  hooks::SetUntranslatable(L'\u00E9');

  EXPECT_NO_THROW(MainApp::Main());
  hooks::SetUntranslatable(L'\0');

  // What is left of the path, converted or not, must not be written to.
  EXPECT_EQ(Level(""), -1);
  EXPECT_EQ(Level("AppID"), -1);
  EXPECT_EQ(Level("AppID\\{\xE9}"), -1);
  EXPECT_EQ(Level(std::string("AppID\\") + kDriverGuid), 1);
}

// HKEY_CLASSES_ROOT merges the user's classes over the machine's: a
// registration made for one user is found, and where both hold a key the
// user's copy is the one the repair opens and writes.
TEST_F(MainAppTest, PerUserRegistrationsAreRepairedInTheUsersCopy) {
  const std::string user = "Software\\Classes\\";
  // The planetarium's registration and its AppID key in both halves; the
  // older one's registration for this user only.
  Registration("TheSky Version 6.EXE", "{A}");
  Key(user + "AppID\\{A}", nullptr, "", HKEY_CURRENT_USER);
  Key(user + "AppID\\Sky.EXE", "AppID", "{B}", HKEY_CURRENT_USER);
  Key(user + "AppID\\{B}", nullptr, "", HKEY_CURRENT_USER);
  Registration("Gemini Driver.exe", kDriverGuid);

  EXPECT_NO_THROW(MainApp::Main());

  EXPECT_EQ(Level(user + "AppID\\{A}", HKEY_CURRENT_USER), 1);
  EXPECT_EQ(Level(std::string(kClasses) + "\\{A}", HKEY_LOCAL_MACHINE), -1);
  EXPECT_EQ(Level(user + "AppID\\{B}", HKEY_CURRENT_USER), 1);
  EXPECT_EQ(Level(std::string("AppID\\") + kDriverGuid), 1);
  // Nothing of the user's was copied to the machine.
  EXPECT_EQ(Level(std::string(kClasses) + "\\{B}", HKEY_LOCAL_MACHINE), -1);
}

TEST_F(MainAppTest, CreateRegistryKeyAnswersInsteadOfRaising) {
  EXPECT_TRUE(MainApp::CreateRegistryKey(HKEY_CLASSES_ROOT, L"AppID\\New"));
  EXPECT_TRUE(MainApp::CreateRegistryKey(HKEY_CLASSES_ROOT, L"AppID\\New"));
  EXPECT_FALSE(MainApp::CreateRegistryKey(0x1234, L"AppID\\New"));
  EXPECT_EQ(hooks::OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace corvane
