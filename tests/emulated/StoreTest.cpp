// The shared store on disk: where it lives, what a process that only reads
// leaves behind (nothing), the one-time import of an old .reg hive, files it
// must refuse untouched, volatile keys across a restart, and use after fork.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "platform/Platform.h"
#include "platform/emulated/TestHooks.h"
#include "platform/emulated/store/ChecksumVfs.h"
#include "platform/emulated/store/Sql.h"
#include "platform/emulated/system/SystemCalls.h"
#include "support/ScratchFolder.h"
#include "support/ScratchKey.h"

namespace corvane::platform::emulated {
namespace {

namespace fs = std::filesystem;
using corvane::testing::ScratchFolder;

// Points the registry at a store of the test's own and back again
// afterwards, so the rest of the suite keeps its store.
class StoreTest : public ::testing::Test {
 protected:
  StoreTest() {
    const char* old = std::getenv("CORVANE_REGISTRY");
    if (old != nullptr) saved_ = old;
  }
  ~StoreTest() override {
    System() = RealSystemCalls();
    if (saved_) {
      setenv("CORVANE_REGISTRY", saved_->c_str(), 1);
    } else {
      unsetenv("CORVANE_REGISTRY");
    }
    RegCloseKey(HKEY_CURRENT_USER);  // binds the suite's store again
  }

  void Use(const std::string& path) {
    setenv("CORVANE_REGISTRY", path.c_str(), 1);
  }

  // Runs SQL on a store from outside the registry, as another program would
  // (one that keeps the pages' checksums).
  static bool Sql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    const bool ok =
        sqlite3_open_v2(path.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        checksums::VfsName()) == SQLITE_OK &&
        RegisterFold(db) == SQLITE_OK &&
        sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
  }
  // The first row a query finds in a store opened read-only, its columns
  // joined by '|'.
  static std::string Ask(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    std::string row;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
      sqlite3_exec(
          db, sql,
          [](void* out, int columns, char** values, char**) {
            auto& text = *static_cast<std::string*>(out);
            for (int i = 0; i < columns; ++i) {
              text += std::string(i == 0 ? "" : "|") +
                      (values[i] != nullptr ? values[i] : "NULL");
            }
            return 1;  // the first row is enough
          },
          &row, nullptr);
    }
    sqlite3_close(db);
    return row;
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  static std::string Import(const std::string& text, const char* name) {
    return ImportRegFile(
        {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
        name);
  }
  std::string Files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_.Path())) {
      names.insert(entry.path().filename().string());
    }
    std::string all;
    for (const std::string& name : names) all += name + " ";
    return all;
  }

  static LONG SetText(const char* path, const char* name, const char* text) {
    HKEY key = 0;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExA(key, name, 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text),
                            static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(key);
    return status;
  }
  static std::string GetText(HKEY root, const char* path, const char* name) {
    HKEY key = 0;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return "<no key>";
    }
    char data[256] = {};
    DWORD size = sizeof data;
    const LONG status = RegQueryValueExA(key, name, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? data
                                   : "<error " + std::to_string(status) + ">";
  }

  ScratchFolder folder_;

 private:
  std::optional<std::string> saved_;
};

TEST_F(StoreTest, ARelativeNameIsMadeAbsoluteAndReadersLeaveNoFiles) {
  const fs::path before = fs::current_path();
  fs::current_path(folder_.Path());
  Use("sub/live.db");
  const std::string expected = (folder_.Path() / "sub/live.db").string();
  EXPECT_EQ(StorePath(), expected);
  EXPECT_STREQ(std::getenv("CORVANE_REGISTRY"), expected.c_str());
  fs::current_path(before);  // children and later calls use the absolute name

  // Reading a store that doesn't exist answers as a fresh registry would
  // and creates nothing.
  EXPECT_EQ(GetText(HKEY_CLASSES_ROOT, "AppID", "x"), "<error 2>");
  HKEY key = 0;
  EXPECT_EQ(
      RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, KEY_READ, &key),
      ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(fs::is_empty(folder_.Path()));

  ASSERT_EQ(SetText("Software\\Made", "v", "here"), ERROR_SUCCESS);
  EXPECT_TRUE(fs::exists(expected));
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Made", "v"), "here");
}

// Each call answers from the store the environment names at that moment,
// however the environment was edited around the variable since.
TEST_F(StoreTest, EveryCallFollowsTheStoreTheEnvironmentNames) {
  const std::string a = (folder_.Path() / "a.db").string();
  const std::string b = (folder_.Path() / "b.db").string();
  setenv("CORVANE_STORE_TEST_BEFORE", "1", 1);
  Use(a);
  setenv("CORVANE_STORE_TEST_AFTER", "1", 1);
  ASSERT_EQ(SetText("Software\\Which", "v", "a"), ERROR_SUCCESS);
  // Entries around it come and go; the store stays.
  unsetenv("CORVANE_STORE_TEST_BEFORE");
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Which", "v"), "a");
  unsetenv("CORVANE_STORE_TEST_AFTER");
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Which", "v"), "a");
  Use(b);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Which", "v"), "<no key>");
  ASSERT_EQ(SetText("Software\\Which", "v", "b"), ERROR_SUCCESS);
  Use(a);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Which", "v"), "a");
  unsetenv("CORVANE_REGISTRY");
  setenv("CORVANE_REGISTRY", b.c_str(), 1);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Which", "v"), "b");

  // Without CORVANE_REGISTRY the default follows XDG_DATA_HOME.
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const std::optional<std::string> savedXdg =
      xdg ? std::optional<std::string>(xdg) : std::nullopt;
  unsetenv("CORVANE_REGISTRY");
  const std::string x = (folder_.Path() / "x").string();
  const std::string y = (folder_.Path() / "y").string();
  setenv("XDG_DATA_HOME", x.c_str(), 1);
  setenv("CORVANE_STORE_TEST_AFTER", "1", 1);  // not the last entry now
  // Once to move to that store, once more to be answered as seen.
  EXPECT_EQ(StorePath(), x + "/corvane/registry.reg.db");
  EXPECT_EQ(StorePath(), x + "/corvane/registry.reg.db");
  setenv("XDG_DATA_HOME", y.c_str(), 1);
  EXPECT_EQ(StorePath(), y + "/corvane/registry.reg.db");
  unsetenv("CORVANE_STORE_TEST_AFTER");
  if (savedXdg) {
    setenv("XDG_DATA_HOME", savedXdg->c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

TEST_F(StoreTest, AnOldHiveIsImportedOnceAndNeverWritten) {
  const std::string hive = folder_.File("registry.reg");
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Old]\r\n"
      "\"kept\"=\"from the hive\"\r\n"
      "\"unterminated\"=hex(1):41,42\r\n";
  Write(hive, text);
  Use(hive);
  EXPECT_EQ(StorePath(), hive + ".db");
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Old", "kept"),
            "from the hive");
  // Its data exactly: string data without its NUL stays so.
  HKEY old = 0;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Old", 0, KEY_READ, &old),
      ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(
      RegQueryValueExA(old, "unterminated", nullptr, nullptr, nullptr, &size),
      ERROR_SUCCESS);
  RegCloseKey(old);
  EXPECT_EQ(size, 2u);
  ASSERT_EQ(SetText("Software\\Old", "kept", "changed"), ERROR_SUCCESS);
  EXPECT_EQ(Read(hive), text);

  // A later change to the old file is not imported again.
  Write(hive, text + "\"more\"=\"late\"\r\n");
  Use(folder_.File("elsewhere.db"));
  RegCloseKey(HKEY_CURRENT_USER);
  Use(hive);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Old", "kept"), "changed");
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Old", "more"), "<error 2>");
}

TEST_F(StoreTest, AHiveThatCantBeParsedIsReportedAndLeftAlone) {
  const std::string hive = folder_.File("bad.reg");
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=what\r\n";
  Write(hive, text);
  Use(hive);
  EXPECT_EQ(RegistryLoadError().rfind(hive + ":4: ", 0), 0u)
      << RegistryLoadError();
  HKEY key = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key),
            ERROR_BADDB);
  EXPECT_EQ(SetText("Software\\X", "v", "no"), ERROR_BADDB);
  EXPECT_EQ(Read(hive), text);
  EXPECT_FALSE(fs::exists(hive + ".db"));
}

// Files that are not a store this build can use are refused byte for byte
// untouched, and every call answers as a corrupt registry does.
TEST_F(StoreTest, ForeignAndNewerFilesAreRefusedUntouched) {
  const std::string notDb = folder_.File("text.db");
  Write(notDb, std::string(8192, 'x'));

  // A store stamped by a later version of the schema.
  const std::string newer = folder_.File("newer.db");
  Use(newer);
  ASSERT_EQ(SetText("Software\\Y", "v", "1"), ERROR_SUCCESS);
  Use(folder_.File("elsewhere.db"));
  RegCloseKey(HKEY_CURRENT_USER);  // lets go of the store
  ASSERT_TRUE(Sql(newer, "PRAGMA user_version=99"));

  // Another program's database.
  const std::string foreign = folder_.File("foreign.db");
  ASSERT_TRUE(Sql(foreign, "CREATE TABLE t(x)"));

  struct Case {
    std::string path, reason;
  } cases[] = {
      {notDb, "file is not a database"},
      {newer, "made by a newer Corvane (store version 99; this one reads 4)"},
      {foreign, "not a Corvane registry store"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string before = Read(c.path);
    Use(c.path);
    EXPECT_EQ(RegistryLoadError(), c.path + ": " + c.reason);
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key),
              ERROR_BADDB);
    EXPECT_EQ(SetText("Software\\Z", "v", "no"), ERROR_BADDB);
    EXPECT_EQ(Read(c.path), before);
  }
}

// A store of the first schema (folded names kept in the rows, ids from
// AUTOINCREMENT) is upgraded at its first use: keys, classes, values and
// both orders are as they were, names are still found whatever their case,
// and the id of a key deleted before the upgrade is not given again. The
// registry views' keys it lacks are added, and only those: its own
// SOFTWARE\Wow6432Node stays as it was.
TEST_F(StoreTest, AStoreOfTheFirstSchemaIsUpgradedWithItsKeysAndValues) {
  const std::string store = folder_.File("first.db");
  ASSERT_TRUE(
      Sql(store,
          "PRAGMA encoding='UTF-16le'; PRAGMA journal_mode=WAL;"
          "PRAGMA application_id=1129469518; PRAGMA user_version=1;"
          "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent "
          "INTEGER NOT NULL, name TEXT NOT NULL, fold BLOB NOT NULL, class "
          "TEXT, boot TEXT, last_write INTEGER NOT NULL);"
          "CREATE UNIQUE INDEX keys_by_name ON keys(parent, fold);"
          "CREATE TABLE vals(key INTEGER NOT NULL, ord INTEGER NOT NULL, name "
          "TEXT NOT NULL, fold BLOB NOT NULL, type INTEGER NOT NULL, data "
          "BLOB NOT NULL, PRIMARY KEY(key, ord)) WITHOUT ROWID;"
          "CREATE UNIQUE INDEX vals_by_name ON vals(key, fold);"
          "CREATE TABLE meta(name TEXT PRIMARY KEY, value) WITHOUT ROWID;"
          "INSERT INTO keys(id, parent, name, fold, last_write) VALUES"
          "(1, 0, 'HKEY_CURRENT_USER', 'a', 0), (2, 0, 'HKEY_LOCAL_MACHINE', "
          "'b', 0), (3, 0, 'HKEY_USERS', 'c', 0), (4, 0, "
          "'HKEY_PERFORMANCE_DATA', 'd', 0), (5, 0, 'HKEY_CURRENT_CONFIG', "
          "'e', 0), (6, 0, 'HKEY_DYN_DATA', 'f', 0), (7, 2, 'SOFTWARE', 'g', "
          "0), (8, 7, 'Classes', 'h', 0), (9, 8, 'AppID', 'i', 0), (10, 1, "
          "'Software', 'j', 0), (11, 10, 'Classes', 'k', 0), (40, 10, "
          "'Deleted', 'l', 0);"
          "DELETE FROM keys WHERE id=40;"
          "INSERT INTO keys(id, parent, name, fold, class, last_write) VALUES"
          "(12, 10, 'Old', 'm', 'kind', 0), (13, 12, 'Child b', 'n', NULL, 0),"
          "(14, 12, 'a Child', 'o', NULL, 0),"
          "(15, 7, 'WOW6432NODE', 'r', NULL, 0);"
          "INSERT INTO vals VALUES(12, 1, 'Zeta', 'p', 1, X'7A00'),"
          "(12, 2, 'alpha', 'q', 4, X'07000000'),"
          "(15, 1, 'kept', 's', 1, X'6B00');"));

  Use(store);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "SOFTWARE\\old", "ZETA"), "z");
  HKEY key = 0;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_CURRENT_USER, "software\\OLD", 0, KEY_READ, &key),
      ERROR_SUCCESS);
  std::string seen;
  for (const std::string& subkey : corvane::testing::SubkeyNames(key)) {
    seen += subkey + ";";
  }
  char name[64];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name, type = 0;
    if (RegEnumValueA(key, i, name, &length, nullptr, &type, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      break;
    }
    seen += std::string(name) + "/" + std::to_string(type) + ";";
  }
  char className[16] = {};
  DWORD classLength = sizeof className;
  EXPECT_EQ(
      RegQueryInfoKeyA(key, className, &classLength, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(seen, "a Child;Child b;Zeta/1;alpha/4;");
  EXPECT_STREQ(className, "kind");

  EXPECT_EQ(GetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node", "kept"), "k");
  // The views' two missing keys, added at the upgrade, took 41 and 42.
  ASSERT_EQ(SetText("Software\\New", "v", "1"), ERROR_SUCCESS);
  EXPECT_EQ(Ask(store,
                "SELECT (SELECT user_version FROM pragma_user_version), "
                "(SELECT id FROM keys WHERE name='New'), "
                "(SELECT group_concat(parent || '/' || name, ';') FROM "
                "(SELECT * FROM keys WHERE id > 14 ORDER BY id))"),
            "4|43|7/WOW6432NODE;8/Wow6432Node;15/Classes;10/New");
}

// A store whose values were kept in creation order and found through an
// index (versions 2 and 3) keeps them by name after its upgrade: the order
// they enumerate in is as it was, a value made afterwards comes after them,
// and each key knows the highest order its values had.
TEST_F(StoreTest, AStoreOfValuesInCreationOrderIsUpgradedKeepingThatOrder) {
  const std::string store = folder_.File("third.db");
  Use(store);
  ASSERT_EQ(SetText("Software\\Kept", "zeta", "z"), ERROR_SUCCESS);
  Use(folder_.File("elsewhere.db"));
  RegCloseKey(HKEY_CURRENT_USER);  // lets go of the store
  ASSERT_TRUE(Sql(
      store,
      "CREATE TABLE vals_2(key INTEGER NOT NULL, ord INTEGER NOT NULL, name "
      "TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY "
      "KEY(key, ord)) WITHOUT ROWID;"
      "INSERT INTO vals_2 SELECT key, ord, name, type, data FROM vals;"
      "INSERT INTO vals_2 SELECT key, 3, 'Alpha', 1, X'6100' FROM vals;"
      "INSERT INTO vals_2 SELECT key, 7, 'mid', 1, X'6D00' FROM vals;"
      "DROP TABLE vals; ALTER TABLE vals_2 RENAME TO vals;"
      "CREATE UNIQUE INDEX vals_by_name ON vals(key, corvane_fold(name));"
      "ALTER TABLE keys DROP COLUMN last_ord;"
      "PRAGMA user_version=3;"));

  Use(store);
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kept", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "MID"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "new", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("n"), 2),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "ALPHA", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("A"), 2),
            ERROR_SUCCESS);
  EXPECT_EQ(corvane::testing::ValueNames(key), "zeta;Alpha;new;");
  RegCloseKey(key);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Kept", "alpha"), "A");
  EXPECT_EQ(Ask(store,
                "SELECT (SELECT user_version FROM pragma_user_version), "
                "(SELECT group_concat(name, ';') FROM (SELECT * FROM vals "
                "WHERE key=(SELECT id FROM keys WHERE name='Kept') ORDER BY "
                "ord)), (SELECT last_ord FROM keys WHERE name='Kept')"),
            "4|zeta;Alpha;new|7");
}

// A reboot is simulated by making the store's keys look as if an earlier
// boot had made them.
TEST_F(StoreTest, VolatileKeysVanishAfterARestartOnly) {
  const std::string store = folder_.File("boot.db");
  Use(store);
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Fleeting", 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(SetText("Software\\Lasting", "v", "1"), ERROR_SUCCESS);

  // Another process of the same boot still sees it.
  const pid_t child = fork();
  if (child == 0) {
    HKEY k = 0;
    _exit(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Fleeting", 0, KEY_READ,
                        &k) == ERROR_SUCCESS
              ? 0
              : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  Use(folder_.File("elsewhere.db"));
  RegCloseKey(HKEY_CURRENT_USER);
  ASSERT_TRUE(Sql(store,
                  "UPDATE keys SET boot='earlier' WHERE boot IS NOT NULL;"
                  "UPDATE meta SET value='earlier' WHERE name='boot'"));
  Use(store);
  EXPECT_EQ(
      RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Fleeting", 0, KEY_READ, &key),
      ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Lasting", "v"), "1");
}

TEST_F(StoreTest, ParentAndForkedChildBothKeepWorking) {
  Use(folder_.File("fork.db"));
  ASSERT_EQ(SetText("Software\\Fork", "parent", "before"), ERROR_SUCCESS);
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Fork", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const pid_t child = fork();
  if (child == 0) {
    // The child keeps the parent's handles, as its own.
    const char text[] = "from the child";
    const LONG status =
        RegSetValueExA(key, "child", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text), sizeof text);
    _exit(status == ERROR_SUCCESS ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Fork", "child"),
            "from the child");
  const char text[] = "after";
  EXPECT_EQ(RegSetValueExA(key, "parent", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Fork", "parent"), "after");
}

// A writer killed between its commit and the counter's update leaves the
// counter odd: nobody may answer from a view older than that commit, and the
// counter is settled once it has stayed odd a while.
TEST_F(StoreTest, AWriterThatDiedAfterCommittingLeavesNoStaleView) {
  const std::string store = folder_.File("died.db");
  Use(store);
  ASSERT_EQ(SetText("Software\\Died", "v", "one"), ERROR_SUCCESS);
  ASSERT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Died", "v"), "one");

  const int fd = open((store + "-changes").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  void* map = mmap(nullptr, 8, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  ASSERT_NE(map, MAP_FAILED);
  std::atomic_ref<std::uint64_t> counter(*static_cast<std::uint64_t*>(map));
  // The dead writer's mark, then a read before its commit lands: what that
  // read saw must not be kept.
  counter.store((counter.load() | 1) + 2);
  ASSERT_EQ(SetText("Software\\Died", "w", "x"), ERROR_SUCCESS);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Died", "v"), "one");
  counter.store((counter.load() | 1) + 2);
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Died", "v"), "one");
  ASSERT_TRUE(
      Sql(store, "UPDATE vals SET data=X'740077006F000000' WHERE name='v'"));

  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Died", "v"), "two");
  EXPECT_EQ(counter.load() & 1, 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Died", "v"), "two");
  EXPECT_EQ(counter.load() & 1, 0u) << "settled";
  munmap(map, 8);
}

// While another connection reads, the log can't start over and grows with
// every write; once it starts over, its file is cut back instead of keeping
// the size of the longest burst for good.
TEST_F(StoreTest, ALogGrownPastAReaderIsCutBackWhenItStartsOver) {
  const std::string store = folder_.File("log.db");
  Use(store);
  ASSERT_EQ(SetText("Software\\Log", "first", "x"), ERROR_SUCCESS);
  sqlite3* reader = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2(store.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM keys;", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Log", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::vector<BYTE> data(16384, 0x5A);
  const auto burst = [&](int from, int count) {
    for (int i = from; i < from + count; ++i) {
      ASSERT_EQ(RegSetValueExA(key, std::to_string(i).c_str(), 0, REG_BINARY,
                               data.data(), static_cast<DWORD>(data.size())),
                ERROR_SUCCESS);
    }
  };
  burst(0, 600);
  const std::string log = store + "-wal";
  const auto grown = fs::file_size(log);
  EXPECT_GT(grown, 8u << 20);
  sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(reader);
  // One write finds nobody reading and checkpoints the whole log; the next
  // starts it over.
  burst(600, 3);
  RegCloseKey(key);
  EXPECT_LE(fs::file_size(log), 4u << 20) << "grown to " << grown;
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Log", "first"), "x");
}

// An import into a store that has no file yet builds the store beside it and
// moves it in whole: in WAL mode, with its counter, nothing else left over;
// a build abandoned by a dead process is cleared away, a live one's kept. A
// file with a fault makes nothing, and a store that can't be moved in (one
// made meanwhile) gets the import as any store does.
TEST_F(StoreTest, AnImportIntoNoStoreBuildsItAsideAndMovesItIn) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Built]\r\n\"a\"=\"1\"\r\n";
  const std::string live = "new.db.building-" + std::to_string(getppid());
  Write(folder_.File("new.db.building-2147483646"), "abandoned");
  Write(folder_.File("new.db.building-2147483646-wal"), "its log");
  Write(folder_.File("new.db.building-2147483646.kept"), "not ours");
  Write(folder_.File(live), "in progress");

  Use(folder_.File("bad.db"));
  EXPECT_EQ(Import(text + "[HKEY_NOWHERE\\X]\r\n", "bad.reg"),
            "bad.reg:5: unknown root key 'HKEY_NOWHERE'");
  Use(folder_.File("new.db"));
  EXPECT_EQ(Import(text, "new.reg"), "");
  for (const std::string& kept :
       {live, std::string("new.db.building-2147483646.kept")}) {
    EXPECT_TRUE(fs::remove(folder_.File(kept))) << kept;
  }
  EXPECT_EQ(Files(), "new.db new.db-changes ");
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Built", "a"), "1");
  EXPECT_EQ(Ask(folder_.File("new.db"),
                "SELECT (SELECT journal_mode FROM pragma_journal_mode), "
                "(SELECT group_concat(name) FROM (SELECT name FROM "
                "sqlite_schema WHERE type='index' AND name LIKE '%_by_name' "
                "ORDER BY name))"),
            "wal|keys_by_name");

  System().link = [](const char*, const char*) {
    errno = EEXIST;
    return -1;
  };
  Use(folder_.File("raced.db"));
  EXPECT_EQ(Import(text, "raced.reg"), "");
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Built", "a"), "1");
  EXPECT_FALSE(fs::exists(
      folder_.File("raced.db.building-" + std::to_string(getpid()))));

  // A build that can't be synced doesn't take the name either; one large
  // enough to send its pages to the disk on the way.
  System() = RealSystemCalls();
  static int syncs = 0;
  System().fsync = [](int) {
    ++syncs;
    errno = EIO;
    return -1;
  };
  std::string large = text;
  for (int i = 0; i < 10000; ++i) {
    large += "\"v" + std::to_string(i) + "\"=dword:00000001\r\n";
  }
  Use(folder_.File("unsynced.db"));
  EXPECT_EQ(Import(large, "unsynced.reg"), "");
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Built", "a"), "1");
  HKEY built = 0;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Built", 0, KEY_READ, &built),
      ERROR_SUCCESS);
  EXPECT_EQ(corvane::testing::ValueCount(built), 10001u);
  RegCloseKey(built);
  // Each build's sync was asked for (the import's, then the first write's,
  // which makes the store in place when its own build isn't synced either),
  // and not the folder's a placed store gets.
  EXPECT_EQ(syncs, 2);
  EXPECT_FALSE(fs::exists(
      folder_.File("unsynced.db.building-" + std::to_string(getpid()))));
}

TEST_F(StoreTest, AnImportIsCheckedWholeThenAppliedWhole) {
  Use(folder_.File("import.db"));
  const std::string good =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Imported\\Deep]\r\n"
      "\"a\"=\"1\"\r\n\"a\"=\"2\"\r\n@=dword:00000007\r\n\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n";
  ASSERT_EQ(SetText("Software\\Gone\\Below", "v", "x"), ERROR_SUCCESS);
  EXPECT_EQ(ImportRegFile({reinterpret_cast<const std::uint8_t*>(good.data()),
                           good.size()},
                          "good.reg"),
            "");
  EXPECT_EQ(GetText(HKEY_CURRENT_USER, "Software\\Imported\\Deep", "a"), "2");
  HKEY key = 0;
  EXPECT_EQ(
      RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Gone", 0, KEY_READ, &key),
      ERROR_FILE_NOT_FOUND);

  const std::string bad =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Half]\r\n\"a\"=\"1\"\r\n"
      "[HKEY_NOWHERE\\X]\r\n";
  EXPECT_EQ(ImportRegFile(
                {reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size()},
                "bad.reg"),
            "bad.reg:5: unknown root key 'HKEY_NOWHERE'");
  EXPECT_EQ(
      RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Half", 0, KEY_READ, &key),
      ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace corvane::platform::emulated
