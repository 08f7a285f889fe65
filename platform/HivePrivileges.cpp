// EnableHivePrivileges (Platform.h), over the token calls of whichever
// backend is linked: the same steps a tool takes on Windows before it saves
// or loads a hive.
#include "platform/Platform.h"

namespace corvane::platform {

LONG EnableHivePrivileges() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
    return static_cast<LONG>(GetLastError());
  }
  LONG status = ERROR_SUCCESS;
  for (const char* name : {"SeBackupPrivilege", "SeRestorePrivilege"}) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges succeeds for a privilege the token lacks and
    // says so in the last error (ERROR_NOT_ALL_ASSIGNED).
    if (!LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(token, 0, &privileges, 0, nullptr, nullptr) ||
        GetLastError() != ERROR_SUCCESS) {
      status = ERROR_PRIVILEGE_NOT_HELD;
    }
  }
  CloseHandle(token);
  return status;
}

}  // namespace corvane::platform
