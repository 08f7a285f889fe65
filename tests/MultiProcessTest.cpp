// The registry shared by separate processes, checked on both backends: the
// other processes are corvane_regchild, and what they do is seen here (and
// the other way round) while they run, after they were killed, and through
// handles opened before they acted. Under Wine every process start costs up
// to a second, so each test starts few.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/Process.h"
#include "support/RegChild.h"
#include "support/ScratchFolder.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

using testing::kChildGuard;
using testing::QueryString;
using testing::RunRegChild;
using testing::StartRegChild;

LONG SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

class MultiProcess : public ::testing::Test {
 protected:
  // `relative` below the scratch key, as the child names keys: a path below
  // HKEY_CURRENT_USER.
  std::string Child(const std::string& relative) const {
    return scratch_.Path() + "\\" + relative;
  }
  // A fresh open of `relative` below the scratch key (0 when it fails).
  HKEY Open(const std::string& relative) const {
    HKEY key = 0;
    RegOpenKeyExA(scratch_.Handle(), relative.c_str(), 0, KEY_ALL_ACCESS, &key);
    return key;
  }
  std::string ReadFresh(const std::string& relative, const char* name) const {
    const HKEY key = Open(relative);
    if (key == 0) return "no key";
    std::string text = QueryString(key, name);
    RegCloseKey(key);
    return text;
  }
  // Creates a marker file a child's `wait` is blocked on.
  void Release(const std::string& marker) const { std::ofstream{marker}; }

  testing::ScratchKey scratch_;
  testing::ScratchFolder folder_;
};

// The helper itself: what reaches the child is what the test passed, and a
// child that doesn't end is killed at the limit instead of hanging the run.
TEST_F(MultiProcess, ChildrenGetTheirArgumentsAndAreKilledAtTheLimit) {
  const std::string odd = R"(a "quoted" \"mix\" of\ \\ spaces\)";
  const auto run = RunRegChild({"set", Child("Args"), "odd value", odd, "get",
                                Child("Args"), "odd value"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "ok\n" + odd + "\n");

  auto stuck = StartRegChild({"wait", folder_.File("never")});
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(stuck->Wait(std::chrono::milliseconds(300)), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_FALSE(stuck->Running());
}

TEST_F(MultiProcess, ReadersSeeALiveWritersChanges) {
  const std::string release = folder_.File("release");
  auto writer =
      StartRegChild({"set", Child("Shared"), "color", "blue", "wait", release});
  ASSERT_EQ(writer->ReadLine(kChildGuard), "ok");

  // The writer is still running: its change must not wait for its exit.
  const auto reader = RunRegChild({"get", Child("Shared"), "color"});
  EXPECT_EQ(reader.status, 0);
  EXPECT_EQ(reader.output, "blue\n");
  EXPECT_EQ(ReadFresh("Shared", "color"), "blue");
  EXPECT_TRUE(writer->Running());

  Release(release);
  EXPECT_EQ(writer->Wait(kChildGuard), 0);
}

TEST_F(MultiProcess, ChangesSurviveTheirCallerBeingKilled) {
  RegCloseKey(scratch_.CreateKey("Crash\\Gone"));
  auto writer =
      StartRegChild({"set", Child("Crash"), "v", "kept", "delete",
                     Child("Crash\\Gone"), "wait", folder_.File("never")});
  ASSERT_EQ(writer->ReadLine(kChildGuard), "ok");
  ASSERT_EQ(writer->ReadLine(kChildGuard), "ok");
  writer->Kill();
  ASSERT_TRUE(writer->Wait(kChildGuard).has_value());

  EXPECT_EQ(ReadFresh("Crash", "v"), "kept");
  EXPECT_EQ(Open("Crash\\Gone"), 0u);
  const auto reader = RunRegChild({"get", Child("Crash"), "v"});
  EXPECT_EQ(reader.output, "kept\n");
}

TEST_F(MultiProcess, OpenHandlesSeeAnotherProcesssWrites) {
  const HKEY key = scratch_.CreateKey("Live");
  ASSERT_EQ(SetString(key, "v", "old"), ERROR_SUCCESS);
  // Read through the handle first, so whatever this process keeps of the
  // key has been looked at before the other process changes it.
  ASSERT_EQ(QueryString(key, "v"), "old");
  ASSERT_EQ(QueryString(key, "w"), "status 2");

  const auto run =
      RunRegChild({"set", Child("Live"), "v", "new", "set", Child("Live"), "w",
                   "added", "create", Child("Live\\Sub")});
  ASSERT_EQ(run.status, 0) << run.output;

  EXPECT_EQ(QueryString(key, "v"), "new");
  EXPECT_EQ(QueryString(key, "w"), "added");
  char name[64];
  DWORD length = sizeof name;
  ASSERT_EQ(
      RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, length), "Sub");
  EXPECT_EQ(ReadFresh("Live", "w"), "added");
  RegCloseKey(key);
}

TEST_F(MultiProcess, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 4;
#ifdef CORVANE_EMULATED
  constexpr int kEach = 500;
#else
  constexpr int kEach = 100;  // Wine's registry calls are slow
#endif
  // Every writer waits for the same marker, so that they write together
  // rather than one after another as they happen to start.
  const std::string go = folder_.File("go");
  std::vector<std::unique_ptr<testing::Process>> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(
        StartRegChild({"wait", go, "write-many", Child("Many"),
                       "w" + std::to_string(w) + "_", std::to_string(kEach)}));
  }
  Release(go);
  for (auto& writer : writers) {
    EXPECT_EQ(writer->Wait(kChildGuard), 0) << writer->Output();
  }

  const HKEY key = Open("Many");
  ASSERT_NE(key, 0u);
  DWORD values = 0;
  ASSERT_EQ(
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &values, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(values, DWORD{kWriters * kEach});
  int wrong = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kEach; ++i) {
      const std::string name =
          "w" + std::to_string(w) + "_" + std::to_string(i);
      wrong += QueryString(key, name.c_str()) != std::to_string(i);
    }
  }
  EXPECT_EQ(wrong, 0);
  RegCloseKey(key);
}

TEST_F(MultiProcess, HandleToAKeyDeletedElsewhereAnswersKeyDeleted) {
  const HKEY doomed = scratch_.CreateKey("Doomed");
  RegCloseKey(scratch_.CreateKey("Doomed\\Inner"));
  ASSERT_EQ(SetString(doomed, "v", "x"), ERROR_SUCCESS);
  const HKEY reborn = scratch_.CreateKey("Reborn");
  ASSERT_EQ(SetString(reborn, "v", "first"), ERROR_SUCCESS);

  // Reborn comes back under the same name: still not the key the old
  // handle was opened on.
  const auto run = RunRegChild({"delete", Child("Doomed\\Inner"), "delete",
                                Child("Doomed"), "delete", Child("Reborn"),
                                "set", Child("Reborn"), "v", "second"});
  ASSERT_EQ(run.status, 0) << run.output;

  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(doomed, "v", nullptr, nullptr, nullptr, &size),
            ERROR_KEY_DELETED);
  char name[64];
  DWORD length = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(doomed, 0, name, &length, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(SetString(doomed, "v", "y"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(doomed), ERROR_SUCCESS);

  EXPECT_EQ(QueryString(reborn, "v"), "status 1018");
  EXPECT_EQ(SetString(reborn, "v", "third"), ERROR_KEY_DELETED);
  EXPECT_EQ(ReadFresh("Reborn", "v"), "second");
  RegCloseKey(reborn);
}

}  // namespace
}  // namespace corvane::platform
