// The codec and the key-tree routines where only the emulated registry can
// take us: a value or the environment that changes between a size query and
// the read, the 95 family's subtree-deleting RegDeleteKeyA, denied rights,
// and the open-handle count that shows every key opened was closed again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/emulated/TestHooks.h"
#include "registry/MRegTool.h"
#include "registry/MUtility.h"
#include "support/ScratchKey.h"

namespace corvane {
namespace {

using namespace platform;
namespace emu = platform::emulated;

constexpr DWORD kWin98 = 0xC0000A04;

class MRegToolEmulated : public ::testing::Test {
 protected:
  void TearDown() override {
    emu::ClearDenials();
    emu::ResetVersion();
  }
  void Deny(const std::string& path, REGSAM rights) const {
    emu::DenyAccess(HKEY_CURRENT_USER, (scratch_.Path() + "\\" + path).c_str(),
                    rights);
  }

  testing::ScratchKey scratch_;
};

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

TEST_F(MRegToolEmulated, RemoveKeyOn95LeavesAKeyWithSubkeysOrUnseen) {
  emu::SetVersion(kWin98);
  scratch_.Make("parent\\child");
  const std::size_t handles = emu::OpenHandleCount();
  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent"),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(emu::OpenHandleCount(), handles);
  // Its subkeys can't be counted, and the 95 family's delete would take
  // them along: the key stays.
  Deny("parent", KEY_QUERY_VALUE);
  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent"),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(scratch_.Has("parent\\child"));
  emu::ClearDenials();

  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent\\child"), 0);
  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent"), 0);
  EXPECT_FALSE(scratch_.Has("parent"));
  EXPECT_EQ(MRegTool::RemoveKey(scratch_.Handle(), L"parent"),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(MRegToolEmulated, RemoveKeyTreeOnBothFamiliesClosesWhatItOpens) {
  for (DWORD version : {DWORD{0x0A280105}, kWin98}) {
    emu::SetVersion(version);
    scratch_.Make("tree\\a\\b\\c");
    scratch_.Make("tree\\a\\x");
    scratch_.Make("tree\\d");
    const std::size_t handles = emu::OpenHandleCount();
    EXPECT_EQ(MRegTool::RemoveKeyTree(scratch_.Handle(), L"tree"), 0);
    EXPECT_FALSE(scratch_.Has("tree"));
    EXPECT_EQ(emu::OpenHandleCount(), handles);
  }
}

TEST_F(MRegToolEmulated, RemoveKeyTreeStopsAtAChildItMayNotDelete) {
  // "a" goes before "b" refuses (its DELETE right also keeps it from being
  // opened, so its own child stays); "c" is never tried.
  for (const char* child : {"a", "b\\inner", "c"}) {
    scratch_.Make(std::string("tree\\") + child);
  }
  Deny("tree\\b", DELETE);
  const std::size_t handles = emu::OpenHandleCount();
  EXPECT_EQ(MRegTool::RemoveKeyTree(scratch_.Handle(), L"tree"),
            ERROR_ACCESS_DENIED);
  EXPECT_FALSE(scratch_.Has("tree\\a"));
  EXPECT_TRUE(scratch_.Has("tree\\b\\inner"));
  EXPECT_TRUE(scratch_.Has("tree\\c"));
  EXPECT_EQ(emu::OpenHandleCount(), handles);
}

TEST_F(MRegToolEmulated, AValueThatShrinksBeforeTheReadIsWhatWasDelivered) {
  const auto set = [&](const char* name, DWORD type,
                       const std::vector<BYTE>& data) {
    ASSERT_EQ(RegSetValueExA(scratch_.Handle(), name, 0, type, data.data(),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
  };
  const struct {
    const char* name;
    DWORD type;
    std::vector<BYTE> before, after;
    Variant read;
  } cases[] = {
      {"text", REG_SZ, {'l', 'o', 'n', 'g', 'e', 'r', 0}, {'a', 'b', 0}, L"ab"},
      {"list",
       REG_MULTI_SZ,
       {'l', 'o', 'n', 'g', 0, 'x', 0, 0},
       {'a', 0, 0},
       std::wstring(L"a\0", 2)},
      {"bytes",
       REG_BINARY,
       {1, 2, 3, 4, 5, 6, 7, 8},
       {9, 8, 7},
       Variant::ByteArray({9, 8, 7})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    set(c.name, c.type, c.before);
    emu::AfterNextSizeQuery([&] { set(c.name, c.type, c.after); });
    std::wstring name = AnsiToWide(c.name);
    Variant value;
    EXPECT_EQ(MRegTool::ReadValue(scratch_.Handle(), name, value), 0);
    EXPECT_EQ(value, c.read);
  }
}

TEST_F(MRegToolEmulated, ExpansionKeepsUpWithAnEnvironmentThatGrows) {
  ASSERT_EQ(setenv("CORVANE_GROWING", "short", 1), 0);
  const std::string longer(300, 'L');
  emu::AfterNextExpansion(
      [&] { ASSERT_EQ(setenv("CORVANE_GROWING", longer.c_str(), 1), 0); });
  std::wstring text = L"<%CORVANE_GROWING%>";
  EXPECT_EQ(MRegTool::ExpandEnvStrings(text),
            L"<" + std::wstring(longer.begin(), longer.end()) + L">");
  EXPECT_EQ(text, L"<%CORVANE_GROWING%>");
  unsetenv("CORVANE_GROWING");
}

TEST_F(MRegToolEmulated, NameVariableComesBackInItsAnsiForm) {
  std::wstring name = L"caf\u00E9 \u4E2D";
  ASSERT_EQ(MRegTool::WriteValue(std::int32_t{1}, scratch_.Handle(), name), 0);
  EXPECT_EQ(name, L"caf\u00E9 ?");
}

}  // namespace
}  // namespace corvane
