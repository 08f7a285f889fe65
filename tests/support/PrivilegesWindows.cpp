// The backup and restore privileges in this process's token (Privileges.h).
#include <windows.h>

#include "support/Privileges.h"

namespace corvane::testing {
namespace {

bool Enable(HANDLE token, const char* name) {
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) {
    return false;
  }
  // Succeeds also when the token lacks the privilege; the last error then
  // says so.
  return AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr,
                               nullptr) &&
         GetLastError() == ERROR_SUCCESS;
}

}  // namespace

bool EnableHivePrivileges() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
    return false;
  }
  const bool enabled =
      Enable(token, "SeBackupPrivilege") && Enable(token, "SeRestorePrivilege");
  CloseHandle(token);
  return enabled;
}

}  // namespace corvane::testing
