// Hive files on the emulated registry, where its own choices show: the file
// a save writes, files that can't be loaded (left as they were), a loaded
// hive seen by another process and written back by flush, unload and the
// next boot, restore and replace, the privilege of the non-administrator
// mode, and corvane-reg's commands over them. Each test uses a store of its
// own.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/TestHooks.h"
#include "platform/emulated/store/ChecksumVfs.h"
#include "support/RegRun.h"
#include "support/ScratchFolder.h"
#include "support/ScratchKey.h"

namespace corvane::platform::emulated {
namespace {

namespace fs = std::filesystem;
using corvane::testing::QueryString;
using corvane::testing::ScratchFolder;
using corvane::testing::ValueCount;

class HiveTest : public ::testing::Test {
 protected:
  HiveTest() {
    if (const char* old = std::getenv("CORVANE_REGISTRY")) saved_ = old;
    setenv("CORVANE_REGISTRY", folder_.File("store.db").c_str(), 1);
  }
  ~HiveTest() override {
    // Read again, in the test's own store, which it empties.
    unsetenv("CORVANE_REGISTRY_READONLY");
    ResetRegistry();
    if (saved_) {
      setenv("CORVANE_REGISTRY", saved_->c_str(), 1);
    } else {
      unsetenv("CORVANE_REGISTRY");
    }
    RegCloseKey(HKEY_CURRENT_USER);  // binds the suite's store again
  }

  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static LONG SetText(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
  }
  static HKEY Create(HKEY parent, const char* path, DWORD options = 0,
                     char* className = nullptr) {
    HKEY key = 0;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, className, options,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  // HKCU\Software\Source: a value, a subkey with a class and a value, and
  // a volatile subkey; saved as `file`.
  static void SaveSource(const std::string& file) {
    const HKEY source = Create(HKEY_CURRENT_USER, "Software\\Source");
    ASSERT_EQ(SetText(source, "top", "1"), ERROR_SUCCESS);
    char kind[] = "kind";
    const HKEY child = Create(source, "Child", 0, kind);
    ASSERT_EQ(SetText(child, "inner", "2"), ERROR_SUCCESS);
    RegCloseKey(child);
    RegCloseKey(Create(source, "Fleeting", REG_OPTION_VOLATILE));
    ASSERT_EQ(RegSaveKeyA(source, file.c_str(), nullptr), ERROR_SUCCESS);
    RegCloseKey(source);
  }
  static std::string Text(HKEY root, const char* path, const char* name) {
    HKEY key = 0;
    const LONG status = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return "status " + std::to_string(status);
    std::string text = QueryString(key, name);
    RegCloseKey(key);
    return text;
  }

  ScratchFolder folder_;
  std::optional<std::string> saved_;
};

TEST_F(HiveTest, SavedFileLoadsUnloadsAndKeepsWhatWasWrittenToIt) {
  const std::string file = folder_.File("source.hiv");
  SaveSource(file);
  // One file, nothing beside it but the store's own.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder_.Path())) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("store.db")) names.push_back(name);
  }
  EXPECT_EQ(names, std::vector<std::string>{"source.hiv"});
  // In the layout every build that reads hives reads (values in creation
  // order, found through an index), whatever the store's own.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  std::string layout;
  sqlite3_exec(
      db,
      "SELECT (SELECT user_version FROM pragma_user_version), (SELECT "
      "group_concat(name) FROM pragma_table_info('vals')), (SELECT count(*) "
      "FROM sqlite_schema WHERE name='vals_by_name')",
      [](void* out, int columns, char** values, char**) {
        for (int i = 0; i < columns; ++i) {
          *static_cast<std::string*>(out) += std::string(values[i]) + ";";
        }
        return 0;
      },
      &layout, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(layout, "3;key,ord,name,type,data;1;");
  const HKEY source = Create(HKEY_CURRENT_USER, "Software\\Source");
  EXPECT_EQ(RegSaveKeyA(source, file.c_str(), nullptr), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(RegSaveKeyExA(source, folder_.File("x.hiv").c_str(), nullptr, 8),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(source);

  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "Mounted", file.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(Text(HKEY_USERS, "Mounted", "top"), "1");
  EXPECT_EQ(Text(HKEY_USERS, "Mounted\\Child", "inner"), "2");
  HKEY probe = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "Mounted\\Fleeting", 0, KEY_READ, &probe),
            ERROR_FILE_NOT_FOUND);
  char className[16] = {};
  DWORD classLength = sizeof className;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "Mounted\\Child", 0, KEY_READ, &probe),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryInfoKeyA(probe, className, &classLength, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(className, "kind");

  // Refusals while it is loaded, and of keys that are no hive.
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "Mounted"), ERROR_ACCESS_DENIED);
  RegCloseKey(probe);
  EXPECT_EQ(RegLoadKeyA(HKEY_USERS, "Again", file.c_str()),
            ERROR_SHARING_VIOLATION);
  EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE", file.c_str()),
            ERROR_ALREADY_EXISTS);
  EXPECT_EQ(RegLoadKeyA(HKEY_CURRENT_USER, "Other", file.c_str()),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "Nothing"), ERROR_FILE_NOT_FOUND);
  // Only unloading removes it; what is below it may go.
  EXPECT_EQ(RegDeleteTreeA(HKEY_USERS, "Mounted"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTreeA(HKEY_USERS, nullptr), ERROR_ACCESS_DENIED);
  RegCloseKey(Create(HKEY_USERS, "Mounted\\Scrap"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, "Mounted\\Scrap"), ERROR_SUCCESS);

  // Another process sees it and writes to it.
  const pid_t child = fork();
  if (child == 0) {
    HKEY key = 0;
    const bool ok = RegOpenKeyExA(HKEY_USERS, "Mounted", 0, KEY_ALL_ACCESS,
                                  &key) == ERROR_SUCCESS &&
                    SetText(key, "other", "3") == ERROR_SUCCESS;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);

  // A flush writes the file, which another key can then take in.
  const std::string before = Bytes(file);
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "Mounted\\Child", 0, KEY_READ, &probe),
            ERROR_SUCCESS);
  ASSERT_EQ(RegFlushKey(probe), ERROR_SUCCESS);
  RegCloseKey(probe);
  EXPECT_NE(Bytes(file), before);

  ASSERT_EQ(RegUnLoadKeyA(HKEY_USERS, "Mounted"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "Mounted", 0, KEY_READ, &probe),
            ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(fs::exists(file + "-wal"));
  ASSERT_EQ(RegLoadKeyW(HKEY_LOCAL_MACHINE, L"Back",
                        fs::path(file).wstring().c_str()),
            ERROR_SUCCESS);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, "Back", "other"), "3");
  EXPECT_EQ(RegUnLoadKeyW(HKEY_LOCAL_MACHINE, L"Back"), ERROR_SUCCESS);
}

TEST_F(HiveTest, UnusableFilesAreRefusedAndLeftAsTheyWere) {
  const std::string hive = folder_.File("good.hiv");
  SaveSource(hive);
  const std::string good = Bytes(hive);
  // A page in the middle of the hive, overwritten.
  std::string damaged = good;
  ASSERT_GT(damaged.size(), 4096u);
  for (std::size_t i = 2048; i < 2048 + 600; ++i) damaged[i] = '\x5A';
  fs::create_directory(folder_.File("folder.hiv"));
  Write(folder_.File("text.hiv"), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\x]\r\n");
  Write(folder_.File("empty.hiv"), "");
  Write(folder_.File("damaged.hiv"), damaged);
  // The store itself is of the schema, but no hive.
  const std::string store = Bytes(folder_.File("store.db"));
  Write(folder_.File("store.hiv"), store);

  const struct {
    const char* name;
    LONG status;
  } cases[] = {
      {"missing.hiv", ERROR_FILE_NOT_FOUND},
      {"no folder/x.hiv", ERROR_PATH_NOT_FOUND},
      {"folder.hiv", ERROR_ACCESS_DENIED},
      {"text.hiv", ERROR_NOT_REGISTRY_FILE},
      {"empty.hiv", ERROR_NOT_REGISTRY_FILE},
      {"store.hiv", ERROR_NOT_REGISTRY_FILE},
      {"damaged.hiv", ERROR_BADDB},
  };
  const HKEY target = Create(HKEY_CURRENT_USER, "Software\\Target");
  ASSERT_EQ(SetText(target, "kept", "yes"), ERROR_SUCCESS);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder_.File(c.name);
    const std::string bytes = fs::is_regular_file(path) ? Bytes(path) : "";
    EXPECT_EQ(RegLoadKeyA(HKEY_USERS, "Bad", path.c_str()), c.status);
    EXPECT_EQ(RegRestoreKeyA(target, path.c_str(), 0), c.status);
    if (fs::is_regular_file(path)) {
      EXPECT_EQ(Bytes(path), bytes);
    }
    EXPECT_FALSE(fs::exists(path + "-wal") || fs::exists(path + "-journal"));
  }
  EXPECT_EQ(Text(HKEY_USERS, "Bad", "top"), "status 2");
  EXPECT_EQ(QueryString(target, "kept"), "yes");
  EXPECT_EQ(Bytes(hive), good);
  RegCloseKey(target);
}

TEST_F(HiveTest, ArgumentsAndTheNonAdministratorMode) {
  const std::string file = folder_.File("a.hiv");
  SaveSource(file);
  EXPECT_EQ(RegSaveKeyA(HKEY_CURRENT_USER, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSaveKeyA(0x1234, folder_.File("b.hiv").c_str(), nullptr),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(
      RegSaveKeyA(HKEY_CURRENT_USER, folder_.File("no/b.hiv").c_str(), nullptr),
      ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(RegLoadKeyA(HKEY_USERS, nullptr, file.c_str()),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegLoadKeyA(HKEY_USERS, "a\\b", file.c_str()),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegLoadKeyA(HKEY_USERS, "x", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegRestoreKeyA(HKEY_CURRENT_USER, nullptr, 0),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegReplaceKeyA(HKEY_USERS, "x", nullptr, file.c_str()),
            ERROR_INVALID_PARAMETER);

  setenv("CORVANE_REGISTRY_READONLY", "1", 1);
  ResetRegistry();
  EXPECT_EQ(
      RegSaveKeyA(HKEY_CURRENT_USER, folder_.File("c.hiv").c_str(), nullptr),
      ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_EQ(RegLoadKeyA(HKEY_USERS, "x", file.c_str()),
            ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "x"), ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_EQ(RegRestoreKeyA(HKEY_CURRENT_USER, file.c_str(), 0),
            ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_FALSE(fs::exists(folder_.File("c.hiv")));
}

// A restart is made as StoreTest makes one: the store's boot and the
// hive's mount look as if an earlier boot had written them.
TEST_F(HiveTest, NextBootWritesTheHiveBackAndUnloadsIt) {
  const std::string file = folder_.File("boot.hiv");
  SaveSource(file);
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Booted", file.c_str()),
            ERROR_SUCCESS);
  HKEY key = 0;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Booted", 0, KEY_ALL_ACCESS, &key),
      ERROR_SUCCESS);
  ASSERT_EQ(SetText(key, "unflushed", "kept"), ERROR_SUCCESS);
  RegCloseKey(key);

  const std::string store = folder_.File("store.db");
  setenv("CORVANE_REGISTRY", folder_.File("elsewhere.db").c_str(), 1);
  RegCloseKey(HKEY_CURRENT_USER);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE,
                            checksums::VfsName()),
            SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db,
                         "UPDATE mounts SET boot='earlier';"
                         "UPDATE meta SET value='earlier' WHERE name='boot'",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  setenv("CORVANE_REGISTRY", store.c_str(), 1);

  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Booted", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "Again", file.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(Text(HKEY_USERS, "Again", "unflushed"), "kept");
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "Again"), ERROR_SUCCESS);
}

TEST_F(HiveTest, RestoreReplacesTheTreeAndReplaceSwapsTheFiles) {
  const std::string file = folder_.File("r.hiv");
  SaveSource(file);
  const HKEY target = Create(HKEY_CURRENT_USER, "Software\\Target");
  ASSERT_EQ(SetText(target, "old", "x"), ERROR_SUCCESS);
  const HKEY inside = Create(target, "OldChild");
  EXPECT_EQ(RegRestoreKeyA(target, file.c_str(), 0), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegRestoreKeyA(target, file.c_str(), REG_FORCE_RESTORE),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(inside, "v"), "status 1018");
  RegCloseKey(inside);
  EXPECT_EQ(QueryString(target, "top"), "1");
  EXPECT_EQ(ValueCount(target), 1u);
  EXPECT_EQ(Text(target, "Child", "inner"), "2");
  EXPECT_EQ(Text(target, "OldChild", "v"), "status 2");
  RegCloseKey(target);
  EXPECT_EQ(RegRestoreKeyA(HKEY_CURRENT_USER, file.c_str(), 0),
            ERROR_ACCESS_DENIED);

  // The new file takes the hive file's name; the loaded hive goes on in
  // the old one.
  const std::string other = folder_.File("other.hiv");
  const HKEY replacement = Create(HKEY_CURRENT_USER, "Software\\Replacement");
  ASSERT_EQ(SetText(replacement, "new", "yes"), ERROR_SUCCESS);
  ASSERT_EQ(RegSaveKeyA(replacement, other.c_str(), nullptr), ERROR_SUCCESS);
  RegCloseKey(replacement);
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "Live", file.c_str()), ERROR_SUCCESS);
  const std::string old = folder_.File("old.hiv");
  EXPECT_EQ(RegReplaceKeyA(HKEY_CURRENT_USER, "Software\\Target", other.c_str(),
                           old.c_str()),
            ERROR_INVALID_PARAMETER);
  ASSERT_EQ(RegReplaceKeyA(HKEY_USERS, "Live", other.c_str(), old.c_str()),
            ERROR_SUCCESS);
  EXPECT_EQ(Text(HKEY_USERS, "Live", "top"), "1");
  ASSERT_EQ(RegUnLoadKeyA(HKEY_USERS, "Live"), ERROR_SUCCESS);
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "New", file.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(Text(HKEY_USERS, "New", "new"), "yes");
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "Old", old.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(Text(HKEY_USERS, "Old", "top"), "1");
}

TEST_F(HiveTest, CorvaneRegSavesLoadsRestoresAndUnloads) {
  using corvane::testing::Reg;
  const std::wstring file = folder_.Path().wstring() + L"/cli.hiv";
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Cli\\Sub"));
  EXPECT_EQ(Reg({L"save", L"HKCU\\Software\\Cli", file}).status, 0);
  const auto asked = Reg({L"save", L"HKCU\\Software\\Cli", file}, {false});
  EXPECT_EQ(asked.questions,
            std::vector<std::wstring>{
                L"File " + file + L" already exists. Overwrite (Yes/No)? "});
  EXPECT_EQ(asked.out, L"The operation was cancelled.\n");
  EXPECT_EQ(Reg({L"save", L"HKCU\\Software\\Cli", file, L"/y"}).status, 0);

  const auto loaded = Reg({L"load", L"HKU\\CliHive", file});
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_EQ(loaded.out, L"The operation completed successfully.\n");
  EXPECT_EQ(Reg({L"query", L"HKU\\CliHive\\Sub"}).status, 0);
  const auto wrongRoot = Reg({L"load", L"HKCU\\CliHive", file});
  EXPECT_EQ(wrongRoot.status, 1);
  EXPECT_EQ(wrongRoot.err,
            L"ERROR: Invalid key name.\nType \"corvane-reg LOAD /?\" for "
            L"usage.\n");
  EXPECT_EQ(Reg({L"unload", L"HKU\\CliHive"}).status, 0);
  EXPECT_EQ(Reg({L"restore", L"HKCU\\Software\\Cli2", file}).status, 1);
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Cli2"));
  EXPECT_EQ(Reg({L"restore", L"HKCU\\Software\\Cli2", file}).status, 0);
  EXPECT_EQ(Reg({L"query", L"HKCU\\Software\\Cli2\\Sub"}).status, 0);
  const auto missing = Reg({L"load", L"HKLM\\X", file + L".none"});
  EXPECT_EQ(missing.err,
            L"ERROR: The system was unable to find the specified registry key "
            L"or value.\n");
}

}  // namespace
}  // namespace corvane::platform::emulated
