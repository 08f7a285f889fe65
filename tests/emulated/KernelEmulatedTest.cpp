// The emulation's own KERNEL32 and ADVAPI32 answers, where Windows' depend on
// the machine: a text for every status the headers define, and the token of
// a process without elevation (CORVANE_REGISTRY_READONLY=1).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/calls/Messages.h"

namespace corvane::platform {
namespace {

// Each status a source file defines, "ERROR_X 5" or "ERROR_X = 5", with its
// name.
std::vector<std::pair<std::string, DWORD>> Statuses(const std::string& file) {
  std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/" + file);
  std::stringstream text;
  text << in.rdbuf();
  const std::string source = text.str();
  const std::regex status(
      R"(\b((?:ERROR|RPC_S)_[A-Z0-9_]+)\b(?: = | )(\d+)\b)");
  std::vector<std::pair<std::string, DWORD>> found;
  for (auto it = std::sregex_iterator(source.begin(), source.end(), status);
       it != std::sregex_iterator(); ++it) {
    found.emplace_back((*it)[1], static_cast<DWORD>(std::stoul((*it)[2])));
  }
  return found;
}

TEST(EmulatedMessageTable, EveryStatusTheHeadersDefineHasItsText) {
  for (const char* file : {"include/corvane/winreg.h", "platform/Platform.h"}) {
    const auto statuses = Statuses(file);
    EXPECT_GT(statuses.size(), 50u) << file << " read";
    for (const auto& [name, code] : statuses) {
      const std::optional<std::string> text = emulated::SystemMessageText(code);
      ASSERT_TRUE(text) << name << " " << code << " in " << file;
      EXPECT_GT(text->size(), 3u) << name;
      EXPECT_EQ(text->substr(text->size() - 2), "\r\n") << name;
    }
  }
}

// A width from the caller's values can't make the emulation allocate
// without bound: wider than a message can be, the insert is refused.
TEST(EmulatedMessageFormat, AnInsertWiderThanAMessageIsRefused) {
  for (const DWORD width : {0x7FFFFFFFu, 0x80000000u}) {
    const DWORD_PTR values[] = {width, reinterpret_cast<DWORD_PTR>(L"x")};
    wchar_t buffer[16];
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(
                  FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                  L"%1!*s!", 0, 0, buffer, 16,
                  reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(values))),
              0u)
        << width;
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  }
}

// Enables the privilege `name` through a new token handle: the last error.
DWORD Enable(const char* name) {
  HANDLE token = nullptr;
  EXPECT_TRUE(
      OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  TOKEN_PRIVILEGES wanted = {};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  EXPECT_TRUE(LookupPrivilegeValueA(nullptr, name, &wanted.Privileges[0].Luid));
  EXPECT_TRUE(AdjustTokenPrivileges(token, 0, &wanted, 0, nullptr, nullptr));
  const DWORD error = GetLastError();
  EXPECT_TRUE(CloseHandle(token));
  return error;
}

TEST(EmulatedToken, AnAdministratorOrAStandardUser) {
  EXPECT_EQ(Enable("SeBackupPrivilege"), DWORD{ERROR_SUCCESS});
  EXPECT_EQ(Enable("SeRestorePrivilege"), DWORD{ERROR_SUCCESS});
  EXPECT_EQ(Enable("SeTcbPrivilege"), DWORD{ERROR_NOT_ALL_ASSIGNED})
      << "not even an administrator holds it";

  setenv("CORVANE_REGISTRY_READONLY", "1", 1);
  EXPECT_EQ(Enable("SeBackupPrivilege"), DWORD{ERROR_NOT_ALL_ASSIGNED});
  EXPECT_EQ(Enable("SeRestorePrivilege"), DWORD{ERROR_NOT_ALL_ASSIGNED});
  EXPECT_EQ(Enable("SeShutdownPrivilege"), DWORD{ERROR_SUCCESS});
  unsetenv("CORVANE_REGISTRY_READONLY");

  LUID luid = {};
  SetLastError(0);
  EXPECT_FALSE(LookupPrivilegeValueA("\\\\elsewhere.invalid",
                                     "SeBackupPrivilege", &luid));
  EXPECT_EQ(GetLastError(), DWORD{RPC_S_SERVER_UNAVAILABLE});
}

TEST(EmulatedToken, DisablingAllReportsWhatWasEnabled) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(),
                               TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  ASSERT_EQ(Enable("SeDebugPrivilege"), DWORD{ERROR_SUCCESS});
  std::vector<unsigned char> room(1024);
  auto* previous = reinterpret_cast<TOKEN_PRIVILEGES*>(room.data());
  DWORD size = 0;
  ASSERT_TRUE(AdjustTokenPrivileges(
      token, 1, nullptr, static_cast<DWORD>(room.size()), previous, &size));
  // SeDebug, and those enabled by default: change notify, impersonate,
  // create global.
  EXPECT_GE(previous->PrivilegeCount, 4u);
  EXPECT_EQ(size, sizeof(DWORD) +
                      previous->PrivilegeCount * sizeof(LUID_AND_ATTRIBUTES));
  ASSERT_TRUE(AdjustTokenPrivileges(
      token, 1, nullptr, static_cast<DWORD>(room.size()), previous, &size));
  EXPECT_EQ(previous->PrivilegeCount, 0u) << "nothing left to disable";
  EXPECT_TRUE(CloseHandle(token));
  EXPECT_FALSE(CloseHandle(token));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

}  // namespace
}  // namespace corvane::platform
