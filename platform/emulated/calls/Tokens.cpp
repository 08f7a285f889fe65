// The emulated process token: GetCurrentProcess, OpenProcessToken,
// LookupPrivilegeValue, AdjustTokenPrivileges and CloseHandle. The process
// holds the privileges of an elevated administrator's token, or of a standard
// user's when CORVANE_REGISTRY_READONLY=1 (read at each call, like the
// registry's own check), so that code enabling the backup and restore
// privileges before a hive call hears what it would on Windows. Which of its
// privileges are enabled is the process's, shared by every token handle.
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/calls/KernelHandles.h"
#include "platform/emulated/calls/RegistryState.h"

namespace corvane::platform {
namespace {

struct Privilege {
  std::wstring_view name;
  DWORD luid;
  bool heldByAdministrator;
  bool heldByUser;
  bool enabledByDefault;
};

// Windows' privileges with their LUIDs (the low part; the high part is 0),
// and who holds them: an elevated administrator's token, a standard user's.
constexpr std::array<Privilege, 35> kPrivileges = {{
    {L"SeCreateTokenPrivilege", 2, false, false, false},
    {L"SeAssignPrimaryTokenPrivilege", 3, false, false, false},
    {L"SeLockMemoryPrivilege", 4, false, false, false},
    {L"SeIncreaseQuotaPrivilege", 5, true, false, false},
    {L"SeMachineAccountPrivilege", 6, false, false, false},
    {L"SeTcbPrivilege", 7, false, false, false},
    {L"SeSecurityPrivilege", 8, true, false, false},
    {L"SeTakeOwnershipPrivilege", 9, true, false, false},
    {L"SeLoadDriverPrivilege", 10, true, false, false},
    {L"SeSystemProfilePrivilege", 11, true, false, false},
    {L"SeSystemtimePrivilege", 12, true, false, false},
    {L"SeProfileSingleProcessPrivilege", 13, true, false, false},
    {L"SeIncreaseBasePriorityPrivilege", 14, true, false, false},
    {L"SeCreatePagefilePrivilege", 15, true, false, false},
    {L"SeCreatePermanentPrivilege", 16, false, false, false},
    {L"SeBackupPrivilege", 17, true, false, false},
    {L"SeRestorePrivilege", 18, true, false, false},
    {L"SeShutdownPrivilege", 19, true, true, false},
    {L"SeDebugPrivilege", 20, true, false, false},
    {L"SeAuditPrivilege", 21, false, false, false},
    {L"SeSystemEnvironmentPrivilege", 22, true, false, false},
    {L"SeChangeNotifyPrivilege", 23, true, true, true},
    {L"SeRemoteShutdownPrivilege", 24, true, false, false},
    {L"SeUndockPrivilege", 25, true, true, false},
    {L"SeSyncAgentPrivilege", 26, false, false, false},
    {L"SeEnableDelegationPrivilege", 27, false, false, false},
    {L"SeManageVolumePrivilege", 28, true, false, false},
    {L"SeImpersonatePrivilege", 29, true, false, true},
    {L"SeCreateGlobalPrivilege", 30, true, false, true},
    {L"SeTrustedCredManAccessPrivilege", 31, false, false, false},
    {L"SeRelabelPrivilege", 32, false, false, false},
    {L"SeIncreaseWorkingSetPrivilege", 33, true, true, false},
    {L"SeTimeZonePrivilege", 34, true, true, false},
    {L"SeCreateSymbolicLinkPrivilege", 35, true, false, false},
    {L"SeDelegateSessionUserImpersonatePrivilege", 36, true, false, false},
}};

constexpr DWORD kTokenAllAccess = 0x000F01FF;
constexpr DWORD kTokenMaximumAllowed = 0x02000000;

// What a token handle refers to: the process's token.
class Token : public emulated::KernelObject {};

// The process token's state: each held privilege's attributes once changed
// (SE_PRIVILEGE_ENABLED or 0), and those removed for good.
struct TokenState {
  std::mutex mutex;
  std::map<DWORD, DWORD> changed;
  std::map<DWORD, bool> removed;
};

TokenState& TheToken() {
  static TokenState* state = new TokenState;
  return *state;
}

const Privilege* FindPrivilege(LUID luid) {
  if (luid.HighPart != 0) return nullptr;
  for (const Privilege& privilege : kPrivileges) {
    if (privilege.luid == luid.LowPart) return &privilege;
  }
  return nullptr;
}

bool Held(const Privilege& privilege, const TokenState& state) {
  if (state.removed.count(privilege.luid) != 0) return false;
  return emulated::ReadOnlyRequested() ? privilege.heldByUser
                                       : privilege.heldByAdministrator;
}

DWORD Attributes(const Privilege& privilege, const TokenState& state) {
  const auto it = state.changed.find(privilege.luid);
  if (it != state.changed.end()) return it->second;
  return privilege.enabledByDefault
             ? SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT
             : 0;
}

bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) !=
        std::towlower(static_cast<wint_t>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Whether `system` names this machine: NULL, empty, its host name, or that
// name after "\\".
bool IsThisMachine(const wchar_t* system) {
  if (system == nullptr || *system == L'\0') return true;
  std::wstring_view name(system);
  if (name.substr(0, 2) == L"\\\\") name.remove_prefix(2);
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return false;
  return SameNameIgnoringCase(name, AnsiToWide(host));
}

BOOL Fail(LONG status) {
  SetLastError(static_cast<DWORD>(status));
  return 0;
}

// One change AdjustTokenPrivileges makes: a held privilege's new attributes.
struct Change {
  const Privilege* privilege;
  DWORD attributes;
  bool remove;
};

// The changes asked for; `notAll` when one names a privilege not held.
std::vector<Change> Changes(const TokenState& state, BOOL disableAll,
                            const TOKEN_PRIVILEGES* newState, bool& notAll) {
  std::vector<Change> changes;
  if (disableAll) {
    for (const Privilege& privilege : kPrivileges) {
      if (Held(privilege, state) &&
          (Attributes(privilege, state) & SE_PRIVILEGE_ENABLED) != 0) {
        changes.push_back({&privilege, 0, false});
      }
    }
    return changes;
  }
  for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
    const Privilege* privilege = FindPrivilege(entry.Luid);
    if (privilege == nullptr || !Held(*privilege, state)) {
      notAll = true;
      continue;
    }
    const bool remove = (entry.Attributes & SE_PRIVILEGE_REMOVED) != 0;
    const DWORD wanted = entry.Attributes & SE_PRIVILEGE_ENABLED;
    const DWORD before = Attributes(*privilege, state);
    if (remove || (before & SE_PRIVILEGE_ENABLED) != wanted) {
      changes.push_back({privilege, wanted, remove});
    }
  }
  return changes;
}

DWORD PreviousStateSize(std::size_t entries) {
  return static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) +
                            entries * sizeof(LUID_AND_ATTRIBUTES));
}

}  // namespace

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(-1); }

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                      HANDLE* TokenHandle) {
  if (ProcessHandle != GetCurrentProcess()) return Fail(ERROR_INVALID_HANDLE);
  if (TokenHandle == nullptr) return Fail(ERROR_NOACCESS);
  const DWORD access = (DesiredAccess & kTokenMaximumAllowed) != 0
                           ? kTokenAllAccess
                           : DesiredAccess;
  *TokenHandle = emulated::OpenKernelHandle(std::make_shared<Token>(), access);
  SetLastError(ERROR_SUCCESS);
  return 1;
}

BOOL LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, LUID* lpLuid) {
  if (!IsThisMachine(lpSystemName)) return Fail(RPC_S_SERVER_UNAVAILABLE);
  if (lpName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  for (const Privilege& privilege : kPrivileges) {
    if (!SameNameIgnoringCase(lpName, privilege.name)) continue;
    if (lpLuid == nullptr) return Fail(ERROR_NOACCESS);
    lpLuid->LowPart = privilege.luid;
    lpLuid->HighPart = 0;
    return 1;
  }
  return Fail(ERROR_NO_SUCH_PRIVILEGE);
}

BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, LUID* lpLuid) {
  const std::wstring system =
      lpSystemName != nullptr ? AnsiToWide(lpSystemName) : std::wstring();
  if (lpName == nullptr) {
    return LookupPrivilegeValueW(system.c_str(), nullptr, lpLuid);
  }
  return LookupPrivilegeValueW(system.c_str(), AnsiToWide(lpName).c_str(),
                               lpLuid);
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           TOKEN_PRIVILEGES* NewState, DWORD BufferLength,
                           TOKEN_PRIVILEGES* PreviousState,
                           DWORD* ReturnLength) {
  DWORD access = 0;
  if (emulated::FindKernelObject<Token>(TokenHandle, &access) == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  const DWORD needed =
      TOKEN_ADJUST_PRIVILEGES | (PreviousState != nullptr ? TOKEN_QUERY : 0);
  if ((access & needed) != needed) return Fail(ERROR_ACCESS_DENIED);
  if (!DisableAllPrivileges && NewState == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (PreviousState != nullptr && ReturnLength == nullptr) {
    return Fail(ERROR_NOACCESS);
  }
  TokenState& state = TheToken();
  const std::lock_guard<std::mutex> lock(state.mutex);
  bool notAll = false;
  const std::vector<Change> changes =
      Changes(state, DisableAllPrivileges, NewState, notAll);
  if (PreviousState != nullptr) {
    *ReturnLength = PreviousStateSize(changes.size());
    if (BufferLength < *ReturnLength) return Fail(ERROR_INSUFFICIENT_BUFFER);
    PreviousState->PrivilegeCount = static_cast<DWORD>(changes.size());
    for (std::size_t i = 0; i < changes.size(); ++i) {
      PreviousState->Privileges[i].Luid = {changes[i].privilege->luid, 0};
      PreviousState->Privileges[i].Attributes =
          Attributes(*changes[i].privilege, state);
    }
  }
  for (const Change& change : changes) {
    if (change.remove) {
      state.removed[change.privilege->luid] = true;
    } else {
      state.changed[change.privilege->luid] = change.attributes;
    }
  }
  SetLastError(notAll ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
  return 1;
}

BOOL CloseHandle(HANDLE hObject) {
  // The pseudo-handles of the current process and thread close as no-ops.
  if (hObject == GetCurrentProcess() ||
      hObject == reinterpret_cast<HANDLE>(-2)) {
    return 1;
  }
  if (!emulated::CloseKernelHandle(hObject)) return Fail(ERROR_INVALID_HANDLE);
  return 1;
}

}  // namespace corvane::platform
