// Key-tree routines where only the emulated registry can take us: the 95
// family's subtree-deleting RegDeleteKeyA, denied rights, and the open-handle
// count that shows every key opened was closed again.
#include <gtest/gtest.h>

#include <string>

#include "platform/emulated/TestHooks.h"
#include "registry/MRegTool.h"
#include "registry/MUtility.h"
#include "support/ScratchKey.h"

namespace corvane {
namespace {

using namespace platform;
namespace emu = platform::emulated;

class MRegToolEmulated : public ::testing::Test {
 protected:
  void TearDown() override {
    emu::ClearDenials();
    emu::ResetVersion();
  }

  bool Exists(const std::string& path) const {
    HKEY key = 0;
    if (RegOpenKeyExA(scratch_.Handle(), path.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }
  void Create(const std::string& path) const {
    RegCloseKey(scratch_.CreateKey(path));
  }
  std::string Below(const std::string& path) const {
    return scratch_.Path() + "\\" + path;
  }

  testing::ScratchKey scratch_;
};

constexpr DWORD kWin98 = 0xC0000A04;

TEST_F(MRegToolEmulated, IsWinNTLooksOnlyAtBit31) {
  const std::pair<DWORD, bool> cases[] = {
      {0x00000000, true},  {0x0A280105, true}, {0x7FFFFFFF, true},
      {0x80000000, false}, {kWin98, false},    {0xFFFFFFFF, false},
  };
  for (const auto& [version, nt] : cases) {
    emu::SetVersion(version);
    EXPECT_EQ(MUtility::IsWinNT(), nt) << std::hex << version;
  }
}

TEST_F(MRegToolEmulated, RemoveKeyOn95RefusesAKeyWithSubkeys) {
  emu::SetVersion(kWin98);
  Create("parent\\child");
  const std::size_t handles = emu::OpenHandleCount();
  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent"),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Exists("parent\\child"));
  EXPECT_EQ(emu::OpenHandleCount(), handles);

  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent\\child"), 0);
  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent"), 0);
  EXPECT_FALSE(Exists("parent"));
  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent"),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(MRegToolEmulated, RemoveKeyOn95LeavesAKeyItCannotLookInto) {
  // Counting the subkeys needs a look inside; if that is refused the key
  // stays, since the 95 family's delete would take its subtree too.
  emu::SetVersion(kWin98);
  Create("parent\\child");
  emu::DenyAccess(HKEY_CURRENT_USER, Below("parent").c_str(), KEY_QUERY_VALUE);
  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent"),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Exists("parent\\child"));
}

TEST_F(MRegToolEmulated, RemoveKeyTreeOn95TakesTheTreeInOneDelete) {
  emu::SetVersion(kWin98);
  Create("tree\\a\\b\\c");
  Create("tree\\d");
  const std::size_t handles = emu::OpenHandleCount();
  EXPECT_EQ(MRegTool::RemoveKeyTree(scratch_.Handle(), L"tree"), 0);
  EXPECT_FALSE(Exists("tree"));
  EXPECT_EQ(emu::OpenHandleCount(), handles);
}

TEST_F(MRegToolEmulated, RemoveKeyTreeClosesEveryKeyItOpens) {
  Create("tree\\a\\b\\c");
  Create("tree\\a\\x");
  Create("tree\\d");
  const std::size_t handles = emu::OpenHandleCount();
  EXPECT_EQ(MRegTool::RemoveKeyTree(scratch_.Handle(), L"tree"), 0);
  EXPECT_FALSE(Exists("tree"));
  EXPECT_EQ(emu::OpenHandleCount(), handles);
}

TEST_F(MRegToolEmulated, RemoveKeyTreeStopsAtAChildItMayNotDelete) {
  // Subkeys go in sorted order: "a" is gone before "b" refuses, and "c" is
  // never tried.
  for (const char* child : {"a", "b\\inner", "c"})
    Create("tree\\" + std::string(child));
  emu::DenyAccess(HKEY_CURRENT_USER, Below("tree\\b").c_str(), DELETE);
  const std::size_t handles = emu::OpenHandleCount();
  EXPECT_EQ(MRegTool::RemoveKeyTree(scratch_.Handle(), L"tree"),
            ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Exists("tree\\a"));
  EXPECT_FALSE(Exists("tree\\b\\inner"));
  EXPECT_TRUE(Exists("tree\\b"));
  EXPECT_TRUE(Exists("tree\\c"));
  EXPECT_EQ(emu::OpenHandleCount(), handles);
}

TEST_F(MRegToolEmulated, NamesComeBackInTheirAnsiForm) {
  // The caller's name variable is set again from its ANSI form, so a
  // character the code page lacks comes back as its substitute.
  std::wstring name = L"caf\u00E9 \u4E2D";
  ASSERT_EQ(MRegTool::WriteValue(std::int32_t{1}, scratch_.Handle(), name), 0);
  EXPECT_EQ(name, L"caf\u00E9 ?");
  std::wstring read = L"caf\u00E9 \u4E2D";
  Variant value;
  ASSERT_EQ(MRegTool::ReadValue(scratch_.Handle(), read, value), 0);
  EXPECT_EQ(read, L"caf\u00E9 ?");
  EXPECT_EQ(value, Variant(std::int32_t{1}));
}

}  // namespace
}  // namespace corvane
