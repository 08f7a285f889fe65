// Hive files as both systems answer them: a key saved, loaded below
// HKEY_USERS, unloaded and restored, and the statuses of files that can't be
// used and of bad arguments. Run natively on the emulation and in the
// Windows build on the system's registry (under Wine), with the backup and
// restore privileges enabled first, as Windows code must.
//
// Where Windows and Wine differ, the case follows Windows and runs on the
// emulation only: Windows refuses to save over a file (Wine writes over it),
// loads only below HKEY_LOCAL_MACHINE and HKEY_USERS (Wine anywhere),
// restores (Wine's RegRestoreKey changes nothing), writes a loaded hive to
// its file at unload and leaves no key after a load that failed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Platform.h"
#include "support/ScratchFolder.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

using testing::KeyExists;
using testing::QueryString;
using testing::ScratchFolder;
using testing::ScratchKey;

LONG SetText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

class HivesConformance : public ::testing::Test {
 protected:
  HivesConformance() {
    EXPECT_EQ(platform::EnableHivePrivileges(), ERROR_SUCCESS);
    EXPECT_EQ(SetText(scratch_.Handle(), "top", "1"), ERROR_SUCCESS);
    const HKEY child = scratch_.CreateKey("Child");
    EXPECT_EQ(SetText(child, "inner", "2"), ERROR_SUCCESS);
    RegCloseKey(child);
  }

  // The scratch key saved as `name` in the folder.
  std::string Saved(const std::string& name) {
    const std::string file = folder_.File(name);
    EXPECT_EQ(RegSaveKeyA(scratch_.Handle(), file.c_str(), nullptr),
              ERROR_SUCCESS);
    return file;
  }

  ScratchKey scratch_;
  ScratchFolder folder_;
};

TEST_F(HivesConformance, SavedKeyLoadsBelowUsersAndUnloads) {
  const std::string file = Saved("loaded.hiv");
  const char* mount = "Corvane Hive Test";
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, mount, file.c_str()), ERROR_SUCCESS);
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, mount, 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, "top"), "1");
  EXPECT_TRUE(KeyExists(key, "Child"));
  EXPECT_EQ(SetText(key, "added", "3"), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
  // Not while a handle inside it is open.
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, mount), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_USERS, mount), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_USERS, mount));
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, mount), ERROR_FILE_NOT_FOUND);

  // What was written to it went to the file (Wine's unload drops it).
#ifdef CORVANE_EMULATED
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, mount, file.c_str()), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, mount, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, "added"), "3");
  RegCloseKey(key);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, mount), ERROR_SUCCESS);
#endif
}

// Wine's RegRestoreKey answers 0 and changes nothing.
#ifdef CORVANE_EMULATED
TEST_F(HivesConformance, RestoreReplacesValuesAndSubkeys) {
  const std::string file = Saved("restore.hiv");
  const HKEY target = scratch_.CreateKey("Target");
  ASSERT_EQ(SetText(target, "gone", "x"), ERROR_SUCCESS);
  RegCloseKey(scratch_.CreateKey("Target\\GoneToo"));
  ASSERT_EQ(RegRestoreKeyA(target, file.c_str(), 0), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(target, "top"), "1");
  EXPECT_EQ(QueryString(target, "gone"), "status 2");
  EXPECT_TRUE(KeyExists(target, "Child"));
  EXPECT_FALSE(KeyExists(target, "GoneToo"));
  RegCloseKey(target);
}
#endif

TEST_F(HivesConformance, FilesAndArgumentsThatCantBeUsed) {
  std::ofstream(folder_.File("text.hiv"), std::ios::binary)
      << "not a hive at all, only some text\r\n";
  const struct {
    std::string file;
    LONG status;
  } loads[] = {
      {folder_.File("missing.hiv"), ERROR_FILE_NOT_FOUND},
      {folder_.File("no folder/missing.hiv"), ERROR_PATH_NOT_FOUND},
      {folder_.File("text.hiv"), ERROR_NOT_REGISTRY_FILE},
  };
  for (const auto& load : loads) {
    SCOPED_TRACE(load.file);
    EXPECT_EQ(RegLoadKeyA(HKEY_USERS, "Corvane Bad Hive", load.file.c_str()),
              load.status);
  }
  // Windows leaves nothing of a load that failed; Wine leaves the key.
#ifdef CORVANE_EMULATED
  EXPECT_FALSE(KeyExists(HKEY_USERS, "Corvane Bad Hive"));
#else
  RegDeleteKeyA(HKEY_USERS, "Corvane Bad Hive");
#endif
  EXPECT_EQ(RegSaveKeyA(scratch_.Handle(), nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSaveKeyA(scratch_.Handle(),
                        folder_.File("no folder/x.hiv").c_str(), nullptr),
            ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(RegRestoreKeyA(scratch_.Handle(), nullptr, 0),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSaveKeyA(0x1234, folder_.File("x.hiv").c_str(), nullptr),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "Corvane No Such Hive"),
            ERROR_FILE_NOT_FOUND);
}

#ifdef CORVANE_EMULATED
TEST_F(HivesConformance, WindowsRefusesToSaveOverAFileOrLoadElsewhere) {
  const std::string file = Saved("twice.hiv");
  EXPECT_EQ(RegSaveKeyA(scratch_.Handle(), file.c_str(), nullptr),
            ERROR_ALREADY_EXISTS);
  EXPECT_EQ(RegSaveKeyExW(scratch_.Handle(),
                          std::filesystem::path(file).wstring().c_str(),
                          nullptr, REG_LATEST_FORMAT),
            ERROR_ALREADY_EXISTS);
  EXPECT_EQ(RegLoadKeyA(HKEY_CURRENT_USER, "Corvane Hive", file.c_str()),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegLoadKeyA(scratch_.Handle(), "Corvane Hive", file.c_str()),
            ERROR_INVALID_PARAMETER);
}
#endif

}  // namespace
}  // namespace corvane::platform
