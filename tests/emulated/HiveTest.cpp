// The hive file: where it lives, that saving never leaves a torn file even
// when the saver is killed, that a second process waits for the first, and
// that a hive that can't be read or written is reported and left alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "platform/Platform.h"
#include "platform/emulated/Hive.h"
#include "platform/emulated/HiveFile.h"
#include "platform/emulated/KeyTree.h"

namespace corvane::platform::emulated {
namespace {

namespace fs = std::filesystem;

// Sets environment variables for one test and puts them back afterwards
// (the registry saves to CORVANE_REGISTRY at exit).
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class HiveTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string t =
        (fs::temp_directory_path() / "corvane-hive-XXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    dir_ = t;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Points CORVANE_REGISTRY at `name` in the test's folder.
  std::string UseHive(const std::string& name = "registry.reg") {
    const std::string path = (dir_ / name).string();
    env_.Set("CORVANE_REGISTRY", path.c_str());
    return path;
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  // Files in the folder other than the hive and its lock.
  std::vector<std::string> Leftovers(const std::string& hive) const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(fs::path(hive).parent_path())) {
      const std::string name = e.path().filename().string();
      if (e.path() != hive && e.path().string() != hive + ".lock") {
        out.push_back(name);
      }
    }
    return out;
  }

  fs::path dir_;
  EnvGuard env_;
};

// A tree with a bit of everything, and `marker` as a value so that two
// such trees differ.
void Fill(KeyTree& tree, std::uint32_t marker, int keys = 3) {
  KeyNode* app = tree.Root(HKEY_CLASSES_ROOT)
                     ->CreateChild(u"AppID")
                     ->CreateChild(u"{4A017BC9-347F-4745-A1A8-993E83E8A331}");
  app->SetValue(u"", REG_SZ, {'G', 0, 'D', 0, 0, 0});
  app->SetValue(u"AuthenticationLevel", REG_DWORD,
                {BYTE(marker), BYTE(marker >> 8), BYTE(marker >> 16), 0});
  KeyNode* sw = tree.Root(HKEY_CURRENT_USER)->CreateChild(u"Software");
  for (int i = 0; i < keys; ++i) {
    const std::string n = "Key " + std::to_string(i);
    KeyNode* k = sw->CreateChild(std::u16string(n.begin(), n.end()));
    k->SetValue(u"blob", REG_BINARY, std::vector<BYTE>(200, BYTE(i)));
    k->CreateChild(u"empty");
  }
  sw->CreateChild(u"Volatile", true)
      ->SetValue(u"gone", REG_DWORD, {1, 0, 0, 0});
  tree.Root(HKEY_CURRENT_USER)
      ->SetValue(u"root value", REG_DWORD, {2, 0, 0, 0});
}

std::string Serialized(const KeyTree& tree) {
  std::string bytes;
  EXPECT_EQ(WriteHive(tree, bytes), "");
  return bytes;
}

TEST_F(HiveTest, LocationFollowsTheEnvironment) {
  struct Case {
    const char* registry;
    const char* xdg;
    const char* home;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"/x/my.reg", "/data", "/home/u", "/x/my.reg"},
      {"", "/data", "/home/u", "/data/corvane/registry.reg"},
      {nullptr, "/data", "/home/u", "/data/corvane/registry.reg"},
      {nullptr, nullptr, "/home/u",
       "/home/u/.local/share/corvane/registry.reg"},
      {nullptr, "", "/home/u", "/home/u/.local/share/corvane/registry.reg"},
      {nullptr, "relative", "/home/u",
       "/home/u/.local/share/corvane/registry.reg"},
      {nullptr, nullptr, nullptr, ""},
  };
  for (const auto& c : cases) {
    EnvGuard env;
    env.Set("CORVANE_REGISTRY", c.registry);
    env.Set("XDG_DATA_HOME", c.xdg);
    env.Set("HOME", c.home);
    EXPECT_EQ(HivePath(), c.expected)
        << (c.registry ? c.registry : "-") << " " << (c.xdg ? c.xdg : "-");
  }
}

TEST_F(HiveTest, SaveThenLoadGivesTheSameTree) {
  const std::string hive = UseHive("new/folder/registry.reg");
  {
    KeyTree fresh;
    EXPECT_EQ(LoadHive(fresh), "");  // missing: a fresh registry
    EXPECT_FALSE(fs::exists(hive));
    EXPECT_NE(fresh.Root(HKEY_CLASSES_ROOT)->FindChild(u"AppID"), nullptr);
  }
  KeyTree tree;
  Fill(tree, 1);
  ASSERT_EQ(SaveHive(tree), "");
  const std::string file = Slurp(hive);
  EXPECT_EQ(file, Serialized(tree));
  EXPECT_EQ(file.find("V\0o\0l\0a\0t\0i\0l\0e", 0, 16), std::string::npos)
      << "a volatile key was saved";
  EXPECT_EQ(file.find("H\0K\0E\0Y\0_\0C\0L\0A\0S\0S", 0, 20), std::string::npos)
      << "HKEY_CLASSES_ROOT is saved under HKEY_LOCAL_MACHINE";

  KeyTree loaded;
  ASSERT_EQ(LoadHive(loaded), "");
  EXPECT_EQ(Serialized(loaded), file);
  EXPECT_TRUE(Leftovers(hive).empty());
}

TEST_F(HiveTest, DeletionsInTheFileApply) {
  KeyTree tree;
  const std::string text =
      "REGEDIT4\n"
      "[HKEY_CURRENT_USER\\Software\\A\\B]\n\"x\"=dword:1\n\"y\"=dword:2\n"
      "[hkcu\\software\\a]\n\"y\"=-\n"
      "[-HKEY_CURRENT_USER\\Software\\A\\B]\n"
      "[-HKEY_CURRENT_USER\\Software\\Never\\There]\n"
      "[HKEY_CURRENT_USER\\Software\\A\\C]\n";
  ASSERT_EQ(ReadHive({reinterpret_cast<const std::uint8_t*>(text.data()),
                      text.size()},
                     "t.reg", tree),
            "");
  KeyNode* a =
      tree.Root(HKEY_CURRENT_USER)->FindChild(u"Software")->FindChild(u"A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->FindChild(u"B"), nullptr);
  EXPECT_NE(a->FindChild(u"C"), nullptr);

  const std::string bad = "REGEDIT4\n[HKEY_NOWHERE\\x]\n";
  EXPECT_EQ(
      ReadHive({reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size()},
               "t.reg", tree),
      "t.reg:2: unknown root key 'HKEY_NOWHERE'");
}

TEST_F(HiveTest, SystemFailuresAreReportedAndLoseNothing) {
  const std::string hive = UseHive();
  KeyTree a, b;
  Fill(a, 1);
  Fill(b, 2);
  ASSERT_EQ(SaveHive(a), "");
  const std::string before = Slurp(hive);
  struct Case {
    HiveStep step;
    int error;
    std::string where;
  };
  const std::vector<Case> cases = {
      {HiveStep::kCreateFolder, EACCES, dir_.string()},
      {HiveStep::kCreateTemp, EACCES, hive},
      {HiveStep::kWrite, ENOSPC, hive},
      {HiveStep::kSync, EIO, hive},
      {HiveStep::kRename, EPERM, hive},
  };
  for (const auto& c : cases) {
    FailNextHiveSave(c.step, c.error);
    EXPECT_EQ(SaveHive(b), c.where + ": " + std::strerror(c.error));
    EXPECT_EQ(Slurp(hive), before);
    EXPECT_TRUE(Leftovers(hive).empty()) << Leftovers(hive)[0];
  }
  ASSERT_EQ(SaveHive(b), "");
  EXPECT_EQ(Slurp(hive), Serialized(b));
}

TEST_F(HiveTest, UnreadableHiveOrFolderIsReported) {
  const std::string hive = UseHive("dir.reg");
  fs::create_directory(hive);
  KeyTree tree;
  EXPECT_EQ(LoadHive(tree), hive + ": " + std::strerror(EISDIR));

  std::ofstream(dir_ / "file") << "x";
  const std::string under_file = UseHive("file/sub/registry.reg");
  const std::string err = LoadHive(tree);
  EXPECT_NE(err.find(std::strerror(ENOTDIR)), std::string::npos) << err;
  EXPECT_EQ(err.rfind((dir_ / "file").string(), 0), 0u) << err;

  if (geteuid() != 0) {  // root reads anything
    const std::string locked = UseHive("locked.reg");
    std::ofstream(locked) << "REGEDIT4\n";
    fs::permissions(locked, fs::perms::none);
    EXPECT_EQ(LoadHive(tree), locked + ": " + std::strerror(EACCES));
  }
}

// Runs HiveChild.<test> in a fresh process of this executable with its hive
// at `hive`, and answers its exit status.
int RunChild(const std::string& test, const std::string& hive) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("CORVANE_HIVE_CHILD", hive.c_str(), 1);
    const std::string filter = "--gtest_filter=HiveChild." + test;
    execl("/proc/self/exe", "corvane_tests", filter.c_str(), "--gtest_brief=1",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!fs::remove(hive + ".ran")) return 126;  // no such test in the child
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The bodies RunChild runs. They exist as tests only in a process started
// with CORVANE_HIVE_CHILD naming the hive, so the normal run doesn't list
// them.
class ChildTest : public testing::Test {
 public:
  explicit ChildTest(void (*body)()) : body_(body) {}
  void TestBody() override {
    const std::string hive = std::getenv("CORVANE_HIVE_CHILD");
    setenv("CORVANE_REGISTRY", hive.c_str(), 1);
    std::ofstream(hive + ".ran");  // tells RunChild the body did run
    body_();
  }

 private:
  void (*body_)();
};

void WriteAndExit() {
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\HiveTest", 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            0);
  const DWORD seven = 7;
  ASSERT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&seven), 4),
            0);
  RegCloseKey(key);  // no flush: the save at exit must do it
}

void ReadBack() {
  HKEY key = 0;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\HiveTest", 0, KEY_READ, &key),
      0);
  DWORD value = 0, size = 4, type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "v", nullptr, &type,
                             reinterpret_cast<BYTE*>(&value), &size),
            0);
  EXPECT_EQ(value, 7u);
  RegCloseKey(key);
}

void CorruptHiveAnswersBadDb() {
  HKEY key = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key),
            ERROR_BADDB);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BADDB);
  EXPECT_EQ(RegistryLoadError(),
            std::string(std::getenv("CORVANE_HIVE_CHILD")) +
                ":3: expected '[key]', a value or a comment");
}

const bool kChildTestsRegistered = [] {
  if (std::getenv("CORVANE_HIVE_CHILD") == nullptr) return false;
  const std::pair<const char*, void (*)()> bodies[] = {
      {"WriteAndExit", WriteAndExit},
      {"ReadBack", ReadBack},
      {"CorruptHiveAnswersBadDb", CorruptHiveAnswersBadDb}};
  for (const auto& [name, body] : bodies) {
    testing::RegisterTest("HiveChild", name, nullptr, nullptr, __FILE__,
                          __LINE__,
                          [body = body] { return new ChildTest(body); });
  }
  return true;
}();

TEST_F(HiveTest, ChangesReachTheNextProcess) {
  const std::string hive = (dir_ / "registry.reg").string();
  ASSERT_EQ(RunChild("WriteAndExit", hive), 0);
  ASSERT_EQ(RunChild("ReadBack", hive), 0);
}

TEST_F(HiveTest, CorruptHiveIsNeverRewritten) {
  const std::string hive = (dir_ / "registry.reg").string();
  const std::string corrupt = "REGEDIT4\n\nnot a line of a hive\n";
  std::ofstream(hive, std::ios::binary) << corrupt;
  ASSERT_EQ(RunChild("CorruptHiveAnswersBadDb", hive), 0);
  EXPECT_EQ(Slurp(hive), corrupt);
}

// A saver killed at random instants leaves the old hive or the new one,
// whole.
TEST_F(HiveTest, KilledSaverLeavesOldOrNewHive) {
  const std::string hive = UseHive();
  KeyTree a, b;
  Fill(a, 1, 300);
  Fill(b, 2, 300);
  const std::string bytes_a = Serialized(a), bytes_b = Serialized(b);
  ASSERT_EQ(SaveHive(a), "");

  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(SaveHive(b), "");
  const auto save_us = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now() - t0)
                           .count();
  std::mt19937 rng(12345);
  std::uniform_int_distribution<long> delay(0, 2 * save_us + 1000);
  for (int i = 0; i < 25; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (;;) {
        SaveHive(a);
        SaveHive(b);
      }
    }
    usleep(useconds_t(delay(rng)));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const std::string now = Slurp(hive);
    ASSERT_TRUE(now == bytes_a || now == bytes_b)
        << "torn hive after kill " << i << ": " << now.size() << " bytes";
    KeyTree check;
    ASSERT_EQ(ReadHive({reinterpret_cast<const std::uint8_t*>(now.data()),
                        now.size()},
                       hive, check),
              "");
  }
}

TEST_F(HiveTest, SecondProcessWaitsForTheLock) {
  const std::string hive = (dir_ / "registry.reg").string();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t first = fork();
  if (first == 0) {
    setenv("CORVANE_REGISTRY", hive.c_str(), 1);
    KeyTree tree;
    if (!LoadHive(tree).empty()) _exit(1);
    (void)!write(ready[1], "x", 1);
    usleep(400000);
    Fill(tree, 42);
    _exit(SaveHive(tree).empty() ? 0 : 2);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  const pid_t second = fork();
  if (second == 0) {
    setenv("CORVANE_REGISTRY", hive.c_str(), 1);
    const auto t0 = std::chrono::steady_clock::now();
    KeyTree tree;
    if (!LoadHive(tree).empty()) _exit(1);
    const auto waited = std::chrono::steady_clock::now() - t0;
    if (waited < std::chrono::milliseconds(250)) _exit(3);
    // What the first process saved is what the second one sees.
    const KeyValue* level =
        tree.Root(HKEY_CLASSES_ROOT)
            ->FindChild(u"AppID")
            ->FindChild(u"{4A017BC9-347F-4745-A1A8-993E83E8A331}")
            ->FindValue(u"AuthenticationLevel");
    _exit(level != nullptr && level->data[0] == 42 ? 0 : 4);
  }
  int status = 0;
  waitpid(first, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  waitpid(second, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: load failed, 3: did not wait, "
                                       "4: did not see the first save";
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
}  // namespace corvane::platform::emulated
