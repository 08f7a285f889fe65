// The emulated store between processes where only the emulation can be
// pushed: a writer frozen or killed while it holds the writers' turn and the
// store's write lock, and importers killed in the middle of their
// transaction, and a process told by CORVANE_REGISTRY_PROGRAM_BITS that it is
// a 32-bit program. The other processes are corvane_regchild (its `lock`
// and `import` commands among them).
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "platform/Platform.h"
#include "support/Process.h"
#include "support/RegChild.h"
#include "support/ScratchFolder.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

using namespace std::chrono_literals;
using testing::kChildGuard;
using testing::Process;
using testing::QueryString;
using testing::RunRegChild;
using testing::StartRegChild;

TEST(MultiProcessEmulated, FrozenWriterMakesOtherWritesTimeOutNotHang) {
  testing::ScratchKey scratch;
  testing::ScratchFolder folder;
  const std::string key_path = scratch.Path() + "\\Stalled";
  const HKEY key = scratch.CreateKey("Stalled");
  ASSERT_EQ(RegSetValueExA(key, "v", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("before"), 7),
            ERROR_SUCCESS);

  const std::string release = folder.File("release");
  auto holder = StartRegChild({"lock", "wait", release});
  ASSERT_EQ(holder->ReadLine(kChildGuard), "locked");
  holder->Stop();

  const Process::Environment impatient{{"CORVANE_REGISTRY_TIMEOUT_MS", "300"}};
  const auto t0 = std::chrono::steady_clock::now();
  const auto blocked = RunRegChild({"set", key_path, "v", "after"}, impatient);
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.output, "error 1016\n");
  EXPECT_GE(waited, 300ms);
  EXPECT_LT(waited, 5s);

  // Reading needs no write lock: here, through a handle opened before, and
  // in a process that starts while the lock is held.
  EXPECT_EQ(QueryString(key, "v"), "before");
  const auto reader = RunRegChild({"get", key_path, "v"}, impatient);
  EXPECT_EQ(reader.status, 0);
  EXPECT_EQ(reader.output, "before\n");

  holder->Continue();
  std::ofstream{release};
  EXPECT_EQ(holder->Wait(kChildGuard), 0);
  const auto writer = RunRegChild({"set", key_path, "v", "after"}, impatient);
  EXPECT_EQ(writer.status, 0) << writer.output;
  EXPECT_EQ(QueryString(key, "v"), "after");
  RegCloseKey(key);
}

// A value another process sets again reaches a view that holds it whole,
// its key's last-write time with it, as the store has them.
TEST(MultiProcessEmulated, AValueSetAgainElsewhereIsSeenWithItsTime) {
  testing::ScratchKey scratch;
  const std::string path = scratch.Path() + "\\Again";
  const HKEY key = scratch.CreateKey("Again");
  ASSERT_EQ(RegSetValueExA(key, "v", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("first"), 6),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, "v"), "first");
  for (const char* data : {"second", "third, and longer than before"}) {
    const auto writer = RunRegChild({"put", path, "v", data});
    ASSERT_EQ(writer.status, 0) << writer.output;
    EXPECT_EQ(QueryString(key, "v"), data);
    FILETIME seen{};
    ASSERT_EQ(
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, &seen),
        ERROR_SUCCESS);
    // A handle of its own, opened after: loaded from the store.
    HKEY fresh = 0;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &fresh),
        ERROR_SUCCESS);
    RegFlushKey(fresh);
    FILETIME stored{};
    ASSERT_EQ(
        RegQueryInfoKeyA(fresh, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, &stored),
        ERROR_SUCCESS);
    EXPECT_EQ(seen.dwLowDateTime, stored.dwLowDateTime);
    EXPECT_EQ(seen.dwHighDateTime, stored.dwHighDateTime);
    DWORD longest = 0;
    ASSERT_EQ(
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, &longest, nullptr, nullptr),
        ERROR_SUCCESS);
    // In bytes of the stored (UTF-16) form, as Windows counts it.
    EXPECT_EQ(longest, 2 * (std::string(data).size() + 1));
    RegCloseKey(fresh);
  }
  RegCloseKey(key);
}

// Values another process adds reach a view that holds the key's values
// whole, each in its place in the key's order; a value added here after
// them comes after them for every process.
TEST(MultiProcessEmulated, ValuesAddedElsewhereAreSeenInTheirOrder) {
  testing::ScratchKey scratch;
  const std::string path = scratch.Path() + "\\Added";
  const HKEY key = scratch.CreateKey("Added");
  ASSERT_EQ(RegSetValueExA(key, "first", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("1"), 2),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, "first"), "1");
  for (const char* name : {"b", "A", "c"}) {
    const auto writer = RunRegChild({"put", path, name, name});
    ASSERT_EQ(writer.status, 0) << writer.output;
    EXPECT_EQ(QueryString(key, name), name);
  }
  ASSERT_EQ(RegSetValueExA(key, "last", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("9"), 2),
            ERROR_SUCCESS);
  const std::string names = testing::ValueNames(key);
  RegCloseKey(key);
  EXPECT_EQ(names, "first;b;A;c;last;");
  const auto reader = RunRegChild({"names", path});
  EXPECT_EQ(reader.output, names + "\n");
}

// A process told it is a 32-bit program writes in the 32-bit view, which
// this (64-bit) process finds below Classes\Wow6432Node; and it reads its
// own writes back by the plain path.
TEST(MultiProcessEmulated, AProgramOf32BitsWritesInThe32BitView) {
  const std::string clsid =
      "Software\\Classes\\CLSID\\{C0A7A4E0-0000-4000-8000-0000000000AA}";
  const std::string node =
      "Software\\Classes\\Wow6432Node\\CLSID\\{C0A7A4E0-0000-4000-8000-"
      "0000000000AA}";
  const Process::Environment bits32{{"CORVANE_REGISTRY_PROGRAM_BITS", "32"}};
  const auto writer =
      RunRegChild({"set", clsid, "v", "thirty-two", "get", clsid, "v"}, bits32);
  EXPECT_EQ(writer.status, 0) << writer.output;
  EXPECT_EQ(writer.output, "ok\nthirty-two\n");

  HKEY key = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, clsid.c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, node.c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, "v"), "thirty-two");
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes\\Wow6432Node"),
            ERROR_SUCCESS);
}

TEST(MultiProcessEmulated, KilledWriterHandsOnAtOnce) {
  testing::ScratchKey scratch;
  const std::string key_path = scratch.Path() + "\\Orphaned";
  const HKEY key = scratch.CreateKey("Orphaned");
  auto holder = StartRegChild({"lock", "wait", "/nonexistent/never"});
  ASSERT_EQ(holder->ReadLine(kChildGuard), "locked");

  // Waits in the turn behind the holder, with the default limit of 10 s.
  const auto t0 = std::chrono::steady_clock::now();
  auto waiter = StartRegChild({"set", key_path, "v", "after"});
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(waiter->Running());
  holder->Kill();
  ASSERT_TRUE(holder->Wait(kChildGuard).has_value());
  const auto killed = std::chrono::steady_clock::now();
  EXPECT_EQ(waiter->ReadLine(kChildGuard), "ok");
  EXPECT_EQ(waiter->Wait(kChildGuard), 0);
  // Carried on once the holder was gone, not after the wait limit.
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 2s);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
  EXPECT_EQ(QueryString(key, "v"), "after");
  RegCloseKey(key);
}

// A .reg file of `keys` keys below HKEY_CURRENT_USER\<under>, two values
// each: about 150 bytes a key.
std::string ImportFile(const std::string& under, int keys) {
  std::string text = "REGEDIT4\r\n\r\n";
  char line[256];
  for (int i = 0; i < keys; ++i) {
    std::snprintf(line, sizeof line,
                  "[HKEY_CURRENT_USER\\%s\\Key%06d]\r\n"
                  "\"Name\"=\"Value of key %d, long enough to weigh\"\r\n"
                  "\"Number\"=dword:%08x\r\n\r\n",
                  under.c_str(), i, i, i);
    text += line;
  }
  return text;
}

// Importers killed at seeded random instants never leave a store that a
// fresh process can't use, and an import lands whole or not at all.
TEST(MultiProcessEmulated, KilledImportLandsWholeOrNotAtAll) {
  constexpr int kKeys = 20000;  // a file of about 3 MB
  constexpr int kKills = 10;
  testing::ScratchFolder folder;
  // A store of its own: the rounds leave hundreds of thousands of keys that
  // the shared store would have to delete one call at a time.
  const Process::Environment store{
      {"CORVANE_REGISTRY", folder.File("import.db")}};
  const std::string file = folder.File("import.reg");

  // What a fresh process finds of round `round`: "error 2" when nothing
  // landed, the key counts of the tree's top and of its last key when
  // something did.
  auto survey = [&](int round) {
    const std::string top = "Software\\Import\\Round" + std::to_string(round);
    char last[32];
    std::snprintf(last, sizeof last, "\\Key%06d", kKeys - 1);
    const auto check = RunRegChild({"set", "Software\\Import", "alive", "yes",
                                    "count", top, "count", top + last},
                                   store);
    EXPECT_TRUE(check.status.has_value()) << "round " << round;
    return check.output;
  };
  const std::string all = "ok\n" + std::to_string(kKeys) + " 0\n0 2\n";
  const std::string none = "ok\nerror 2\n";

  // An import left alone, to learn how long one takes from start to exit.
  std::ofstream(file, std::ios::binary)
      << ImportFile("Software\\Import\\Round0", kKeys);
  const auto t0 = std::chrono::steady_clock::now();
  const auto whole = RunRegChild({"import", file}, store);
  const auto span = std::chrono::steady_clock::now() - t0;
  ASSERT_EQ(whole.status, 0) << whole.output;
  ASSERT_EQ(survey(0), all);

  std::mt19937 rng(20240611);
  std::uniform_int_distribution<long long> delay(
      0, std::chrono::duration_cast<std::chrono::microseconds>(span).count());
  for (int round = 1; round <= kKills; ++round) {
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        << ImportFile("Software\\Import\\Round" + std::to_string(round), kKeys);
    auto importer = StartRegChild({"import", file}, store);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
    importer->Kill();
    ASSERT_TRUE(importer->Wait(kChildGuard).has_value());
    const std::string found = survey(round);
    EXPECT_TRUE(found == all || found == none)
        << "round " << round << " left:\n"
        << found;
  }
}

}  // namespace
}  // namespace corvane::platform
