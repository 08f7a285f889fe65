// The emulated registry through its test hooks: access denials, handle
// counting, the 95-family delete, reset, non-administrator mode, threads and
// trees too big for anything quadratic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/TestHooks.h"
#include "platform/emulated/calls/CallHooks.h"
#include "support/RegChild.h"
#include "support/ScratchFolder.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

namespace hooks = emulated;
using testing::KeyExists;

LONG Open(HKEY parent, const std::string& path, REGSAM access, HKEY* key) {
  *key = 0;
  return RegOpenKeyExA(parent, path.c_str(), 0, access, key);
}

LONG Create(HKEY parent, const std::string& path, REGSAM access, HKEY* key,
            DWORD options = REG_OPTION_NON_VOLATILE) {
  *key = 0;
  return RegCreateKeyExA(parent, path.c_str(), 0, nullptr, options, access,
                         nullptr, key, nullptr);
}

LONG SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof value);
}

class EmulatedRegistry : public ::testing::Test {
 protected:
  ~EmulatedRegistry() override {
    hooks::ClearDenials();
    hooks::ResetVersion();
  }
  std::string Below(const std::string& relative) const {
    return scratch_.Path() + "\\" + relative;
  }
  void Deny(const std::string& relative, REGSAM rights) {
    hooks::DenyAccess(HKEY_CURRENT_USER, Below(relative).c_str(), rights);
  }
  HKEY Scratch() const { return scratch_.Handle(); }

  testing::ScratchKey scratch_;
};

TEST_F(EmulatedRegistry, DeniedRightsRefuseOpensAndTheOperationsTheyGuard) {
  scratch_.Make("Locked\\Child");
  Deny("Locked", KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE);
  HKEY key = 0;
  EXPECT_EQ(Open(Scratch(), "Locked", KEY_ALL_ACCESS, &key),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(Create(Scratch(), "Locked", KEY_WRITE, &key), ERROR_ACCESS_DENIED);
  // A new child needs KEY_CREATE_SUB_KEY on the key; an existing one doesn't.
  EXPECT_EQ(Create(Scratch(), "Locked\\New", KEY_ALL_ACCESS, &key),
            ERROR_ACCESS_DENIED);
  EXPECT_FALSE(scratch_.Has("Locked\\New"));
  ASSERT_EQ(Create(Scratch(), "Locked\\Child", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegDeleteKeyA(Scratch(), "Locked\\Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(Scratch(), "Locked"), ERROR_ACCESS_DENIED);

  // MAXIMUM_ALLOWED opens with what is left; the calls check it.
  ASSERT_EQ(Open(Scratch(), "Locked", MAXIMUM_ALLOWED, &key), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, "v", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(key);

  // Rights are fixed when a handle opens: a later denial doesn't reach it.
  scratch_.Make("Later");
  HKEY later = 0;
  ASSERT_EQ(Open(Scratch(), "Later", KEY_ALL_ACCESS, &later), ERROR_SUCCESS);
  Deny("Later", KEY_SET_VALUE);
  EXPECT_EQ(SetDword(later, "v", 1), ERROR_SUCCESS);
  RegCloseKey(later);

  hooks::ClearDenials();
  ASSERT_EQ(Open(Scratch(), "Locked", KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyA(Scratch(), "Locked"), ERROR_SUCCESS);
}

TEST_F(EmulatedRegistry, HandlesAreCountedUntilClosed) {
  scratch_.Make("A");
  const std::size_t before = hooks::OpenHandleCount();
  HKEY a = 0, b = 0, root = 0;
  ASSERT_EQ(Open(Scratch(), "A", KEY_READ, &a), ERROR_SUCCESS);
  ASSERT_EQ(Open(Scratch(), "A", KEY_READ, &b), ERROR_SUCCESS);
  EXPECT_NE(a, b);
  ASSERT_EQ(Open(HKEY_CURRENT_USER, "", KEY_READ, &root), ERROR_SUCCESS);
  EXPECT_EQ(hooks::OpenHandleCount(), before + 2) << "roots are not counted";
  // Failed opens leave nothing behind.
  EXPECT_EQ(Open(Scratch(), "Missing", KEY_READ, &root), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(hooks::OpenHandleCount(), before + 2);
  RegCloseKey(a);
  EXPECT_EQ(RegCloseKey(a), ERROR_INVALID_HANDLE);
  RegCloseKey(b);
  EXPECT_EQ(hooks::OpenHandleCount(), before);

  // A handle value, once closed, is not handed out again.
  HKEY again = 0;
  ASSERT_EQ(Open(Scratch(), "A", KEY_READ, &again), ERROR_SUCCESS);
  EXPECT_NE(again, a);
  EXPECT_NE(again, b);
  RegCloseKey(again);
}

TEST_F(EmulatedRegistry, NinetyFiveFamilyDeletesTheWholeSubtree) {
  scratch_.Make("Tree\\A\\Deep");
  scratch_.Make("Tree\\B");
  HKEY deep = 0;
  ASSERT_EQ(Open(Scratch(), "Tree\\A\\Deep", KEY_ALL_ACCESS, &deep),
            ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyA(Scratch(), "Tree"), ERROR_ACCESS_DENIED)
      << "NT family by default";
  hooks::SetVersion(0xC0000A04);  // 4.10, bit 31 set

  // One key below that refuses deletion keeps everything.
  Deny("Tree\\B", DELETE);
  EXPECT_EQ(RegDeleteKeyA(Scratch(), "Tree"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(scratch_.Has("Tree\\A\\Deep"));
  hooks::ClearDenials();

  EXPECT_EQ(RegDeleteKeyA(Scratch(), "Tree"), ERROR_SUCCESS);
  EXPECT_FALSE(scratch_.Has("Tree"));
  EXPECT_EQ(SetDword(deep, "v", 1), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(deep), ERROR_SUCCESS);

  hooks::ResetVersion();
  scratch_.Make("Again\\Child");
  EXPECT_EQ(RegDeleteKeyA(Scratch(), "Again"), ERROR_ACCESS_DENIED);
}

TEST_F(EmulatedRegistry, RootsAndTheClassesKey) {
  // HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
  HKEY key = 0;
  ASSERT_EQ(
      Create(HKEY_CLASSES_ROOT, "Corvane.Test\\Sub", KEY_ALL_ACCESS, &key),
      ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(
      KeyExists(HKEY_LOCAL_MACHINE, "software\\CLASSES\\Corvane.Test\\Sub"));
  EXPECT_EQ(
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Corvane.Test\\Sub"),
      ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "\\Corvane.Test"), ERROR_SUCCESS);

  // Every predefined key opens; nothing between them and the performance
  // texts is one.
  for (HKEY root = HKEY_CLASSES_ROOT; root <= HKEY_DYN_DATA; ++root) {
    EXPECT_EQ(
        RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        ERROR_SUCCESS)
        << std::hex << root;
  }
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER_LOCAL_SETTINGS + 1),
            ERROR_INVALID_HANDLE);
  // A root key can't be deleted, even when it has no subkeys.
  EXPECT_EQ(RegDeleteKeyA(HKEY_DYN_DATA, ""), ERROR_ACCESS_DENIED);
}

TEST_F(EmulatedRegistry, VolatileKeysOnlyHoldVolatileKeys) {
  HKEY key = 0;
  ASSERT_EQ(
      Create(Scratch(), "Fleeting", KEY_ALL_ACCESS, &key, REG_OPTION_VOLATILE),
      ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(Create(Scratch(), "Fleeting\\Lasting", KEY_ALL_ACCESS, &key),
            ERROR_CHILD_MUST_BE_VOLATILE);
  EXPECT_EQ(Create(Scratch(), "Fleeting\\Also", KEY_ALL_ACCESS, &key,
                   REG_OPTION_VOLATILE),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(EmulatedRegistryReset, ResetLeavesAFreshInstallation) {
  HKEY key = 0;
  ASSERT_EQ(
      Create(HKEY_CURRENT_USER, "Software\\Leftover", KEY_ALL_ACCESS, &key),
      ERROR_SUCCESS);
  hooks::DenyAccess(HKEY_CLASSES_ROOT, "AppID", KEY_READ);
  hooks::ResetRegistry();

  EXPECT_EQ(hooks::OpenHandleCount(), 0u);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Leftover"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Classes"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "AppID")) << "and no denial left";
  DWORD subkeys = 99, values = 99;
  ASSERT_EQ(RegQueryInfoKeyA(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr,
                             &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 1u);
  EXPECT_EQ(values, 0u);
}

// Non-administrator mode: everything below HKEY_LOCAL_MACHINE refuses write
// rights.
TEST(EmulatedRegistryReadOnly, MachineKeysRefuseWriteRights) {
  setenv("CORVANE_REGISTRY_READONLY", "1", 1);
  hooks::ResetRegistry();
  struct Case {
    HKEY root;
    const char* path;
    REGSAM access;
    LONG status;
  } cases[] = {
      {HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ, ERROR_SUCCESS},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_SET_VALUE, ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", DELETE, ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", WRITE_DAC, ERROR_ACCESS_DENIED},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", 0x40000000 /* GENERIC_WRITE */,
       ERROR_ACCESS_DENIED},
      {HKEY_CLASSES_ROOT, "AppID", KEY_READ, ERROR_SUCCESS},
      {HKEY_CLASSES_ROOT, "AppID", KEY_CREATE_SUB_KEY, ERROR_ACCESS_DENIED},
      {HKEY_CURRENT_USER, "", KEY_ALL_ACCESS, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    HKEY key = 0;
    EXPECT_EQ(Open(c.root, c.path, c.access, &key), c.status)
        << c.path << " " << std::hex << c.access;
    if (key != c.root) RegCloseKey(key);
  }
  HKEY key = 0;
  EXPECT_EQ(Create(HKEY_CLASSES_ROOT, "AppID\\{new}", KEY_READ, &key),
            ERROR_ACCESS_DENIED);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "AppID\\{new}"));
  EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, "v", 1), ERROR_ACCESS_DENIED)
      << "the predefined key carries no write right either";
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "AppID"), ERROR_ACCESS_DENIED);
  ASSERT_EQ(Create(HKEY_CURRENT_USER, "Mine", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, "v", 1), ERROR_SUCCESS);
  RegCloseKey(key);

  unsetenv("CORVANE_REGISTRY_READONLY");
  hooks::ResetRegistry();
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(EmulatedRegistry, ConcurrentCallsKeepTheTreeWhole) {
  constexpr int kThreads = 8, kRounds = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kRounds; ++i) {
        HKEY key = 0;
        const std::string path =
            "T" + std::to_string(t) + "\\K" + std::to_string(i);
        if (Create(Scratch(), path, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
          ADD_FAILURE() << path;
          return;
        }
        SetDword(key, "v", static_cast<DWORD>(i));
        char name[16];
        DWORD length = sizeof name;
        RegEnumKeyExA(Scratch(), 0, name, &length, nullptr, nullptr, nullptr,
                      nullptr);
        if (i % 2) RegDeleteKeyA(key, "");
        RegCloseKey(key);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    HKEY key = 0;
    ASSERT_EQ(Open(Scratch(), "T" + std::to_string(t), KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD subkeys = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(subkeys, DWORD{kRounds / 2});
    RegCloseKey(key);
  }
}

// 100,000 subkeys and values, made in random order, enumerated by position
// and deleted from the front: each step is O(log n), so this stays quick; a
// linear step would make it quadratic and the suite would crawl.
// Every call here is a commit of the store, so the count is kept to what
// crosses the chunk and index limits many times over.
TEST_F(EmulatedRegistry, ManyKeysAndValuesKeepTheirOrder) {
  constexpr int kCount = 5000;
  std::vector<int> order(kCount);
  for (int i = 0; i < kCount; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  HKEY big = scratch_.CreateKey("Big");
  char name[32];
  for (int i : order) {
    std::snprintf(name, sizeof name, "k%06d", i);
    HKEY key = 0;
    ASSERT_EQ(Create(big, name, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(SetDword(big, name, static_cast<DWORD>(i)), ERROR_SUCCESS);
  }

  char expected[32];
  for (int i = 0; i < kCount; ++i) {
    DWORD length = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(big, i, name, &length, nullptr, nullptr, nullptr,
                            nullptr),
              ERROR_SUCCESS);
    std::snprintf(expected, sizeof expected, "k%06d", i);
    ASSERT_STREQ(name, expected);
    // Values come back in the order they were made.
    DWORD value = 0, size = sizeof value;
    length = sizeof name;
    ASSERT_EQ(RegEnumValueA(big, i, name, &length, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    ASSERT_EQ(value, static_cast<DWORD>(order[i]));
  }

  // Deleting from the front, as the tree removal does.
  for (int i = 0; i < kCount; ++i) {
    DWORD length = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(big, 0, name, &length, nullptr, nullptr, nullptr,
                            nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(big, name), ERROR_SUCCESS);
    length = sizeof name;
    ASSERT_EQ(RegEnumValueA(big, 0, name, &length, nullptr, nullptr, nullptr,
                            nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(big, name), ERROR_SUCCESS);
  }
  DWORD subkeys = 1, values = 1;
  RegQueryInfoKeyA(big, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                   &values, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 0u);
  RegCloseKey(big);
}

// A process lists a key's subkeys from a view it loads in one go. Keys made
// long after their siblings, subtrees whose keys lie among thousands of
// others, and subtrees that fill the store's end must all come back whole,
// in order, with their values, once another process's write has made this
// one load them again.
TEST_F(EmulatedRegistry, SubtreesLoadWholeWhateverOrderTheirKeysWereMade) {
  scratch_.Make("Early\\a");
  scratch_.Make("Early\\_x");
  scratch_.Make("Early\\b");
  HKEY filler = scratch_.CreateKey("Filler");
  char name[32];
  for (int i = 0; i < 6000; ++i) {
    std::snprintf(name, sizeof name, "f%05d", i);
    HKEY key = 0;
    ASSERT_EQ(Create(filler, name, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  RegCloseKey(filler);
  scratch_.Make("Early\\b\\deep");
  scratch_.Make("Filler\\late");
  HKEY c = scratch_.CreateKey("Early\\C");
  ASSERT_EQ(SetDword(c, "n", 3), ERROR_SUCCESS);
  RegCloseKey(c);

  const auto names = [](HKEY parent, const std::string& path) {
    HKEY key = 0;
    if (Open(parent, path, KEY_READ, &key) != ERROR_SUCCESS) {
      return std::vector<std::string>{};
    }
    std::vector<std::string> out = testing::SubkeyNames(key);
    RegCloseKey(key);
    return out;
  };
  const auto reload = [this] {
    const auto run =
        testing::RunRegChild({"set", scratch_.Path() + "\\Poke", "v", "1"});
    ASSERT_EQ(run.status, 0) << run.output;
  };

  // Early's keys sit before and after six thousand others; loaded, they
  // are in the registry's order ("_" after the letters, in uppercase) and
  // found by name in any case.
  reload();
  EXPECT_EQ(names(Scratch(), "Early"),
            (std::vector<std::string>{"a", "b", "C", "_x"}));
  EXPECT_EQ(names(Scratch(), "EARLY\\B"), std::vector<std::string>{"deep"});
  HKEY x = 0;
  EXPECT_EQ(Open(Scratch(), "early\\_X", KEY_READ, &x), ERROR_SUCCESS);
  RegCloseKey(x);
  DWORD value = 0, size = sizeof value;
  EXPECT_EQ(RegGetValueA(Scratch(), "Early\\C", "n", RRF_RT_REG_DWORD, nullptr,
                         &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 3u);

  // Filler's last key was made after Early's.
  reload();
  std::vector<std::string> filled = names(Scratch(), "Filler");
  ASSERT_EQ(filled.size(), 6001u);
  EXPECT_EQ(filled.front(), "f00000");
  EXPECT_EQ(filled.back(), "late");

  // The whole scratch tree from its top.
  reload();
  EXPECT_EQ(names(Scratch(), ""),
            (std::vector<std::string>{"Early", "Filler", "Poke"}));
  EXPECT_EQ(names(Scratch(), "Early\\b"), std::vector<std::string>{"deep"});
  EXPECT_EQ(names(Scratch(), "Filler").size(), 6001u);
}

// The hooks reach the calls through the CallHooks table: once a hook is done
// the table holds the real steps again, and the calls pay nothing for it.
TEST_F(EmulatedRegistry, HooksPutTheRealStepsBackWhenDone) {
  const hooks::CallHooks& real = hooks::RealCallHooks();
  scratch_.Make("Locked");
  Deny("Locked", KEY_SET_VALUE);
  EXPECT_NE(hooks::Hooks().refused, real.refused);
  hooks::ClearDenials();
  EXPECT_EQ(hooks::Hooks().refused, real.refused);
  EXPECT_EQ(hooks::Hooks().forget, real.forget);

  int runs = 0;
  hooks::AfterNextSizeQuery([&] { ++runs; });
  DWORD size = 0;
  RegQueryValueExA(Scratch(), "absent", nullptr, nullptr, nullptr, &size);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(hooks::Hooks().sizeQuery, real.sizeQuery);
}

TEST_F(EmulatedRegistry, TheSizeQueryActionRunsOnceAfterASizeQueryOnly) {
  ASSERT_EQ(SetDword(Scratch(), "v", 1), ERROR_SUCCESS);
  int runs = 0;
  hooks::AfterNextSizeQuery([&] {
    ++runs;
    SetDword(Scratch(), "v", 2);
  });
  DWORD value = 0, size = sizeof value;
  ASSERT_EQ(RegQueryValueExA(Scratch(), "v", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(runs, 0) << "a read with a buffer is no size query";
  size = 0;
  ASSERT_EQ(RegQueryValueExA(Scratch(), "v", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(size, 4u);
  ASSERT_EQ(RegQueryValueExA(Scratch(), "v", nullptr, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(runs, 1) << "once";
  size = sizeof value;
  ASSERT_EQ(RegQueryValueExA(Scratch(), "v", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 2u) << "the action ran after the size query answered";
}

TEST_F(EmulatedRegistry, AFailedFlushFailsTheNextFlushOnlyAndIsCounted) {
  const std::size_t before = hooks::FlushCount();
  hooks::FailNextFlush(ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(RegFlushKey(Scratch()), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(RegFlushKey(Scratch()), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(0x7FFFFFF0u), ERROR_INVALID_HANDLE);
  EXPECT_EQ(hooks::FlushCount(), before + 3);
}

// A denial names a key of the store it was made in: a process that turns to
// another store, and back, finds none.
TEST(EmulatedRegistryRebind, DenialsEndWithTheStoreTheyWereMadeIn) {
  const std::string path = "Software\\Corvane Tests\\Rebound";
  HKEY key = 0;
  ASSERT_EQ(Create(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  hooks::DenyAccess(HKEY_CURRENT_USER, path.c_str(), KEY_SET_VALUE);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, path, KEY_SET_VALUE, &key),
            ERROR_ACCESS_DENIED);

  const std::string saved = std::getenv("CORVANE_REGISTRY");
  {
    testing::ScratchFolder folder;
    setenv("CORVANE_REGISTRY", folder.File("other.reg").c_str(), 1);
    EXPECT_EQ(Create(HKEY_CURRENT_USER, path, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    setenv("CORVANE_REGISTRY", saved.c_str(), 1);
  }
  EXPECT_EQ(Open(HKEY_CURRENT_USER, path, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(hooks::Hooks().refused, hooks::RealCallHooks().refused);
  RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
}

}  // namespace
}  // namespace corvane::platform
