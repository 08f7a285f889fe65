// The calls about predefined keys: a process's overrides of them
// (RegOverridePredefKey), the current user's key, the registry of "another"
// machine when that machine is this one, and registry reflection, which
// 64-bit Windows no longer does.
#include <unistd.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/emulated/calls/RegistryAccess.h"
#include "platform/emulated/calls/RegistryKeys.h"
#include "platform/emulated/calls/RegistryState.h"

namespace corvane::platform {
namespace {

using emulated::Read;
using emulated::RegistryLock;

// The predefined keys a process may point elsewhere.
bool Overridable(HKEY hKey) {
  return hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER ||
         hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_USERS ||
         hKey == HKEY_PERFORMANCE_DATA || hKey == HKEY_CURRENT_CONFIG;
}

std::wstring Folded(std::wstring_view text) {
  std::wstring out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](wchar_t c) { return std::towlower(c); });
  return out;
}

// Whether `machine` (NULL, empty, or a name with or without a leading
// "\\") is this one: its host name, that name's first label, or localhost.
bool ThisMachine(const wchar_t* machine) {
  if (machine == nullptr) return true;
  std::wstring_view name(machine);
  if (name.starts_with(L"\\\\")) name.remove_prefix(2);
  if (name.empty()) return true;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  const std::wstring full = AnsiToWide(host);
  const std::wstring asked = Folded(name);
  return asked == Folded(full) ||
         asked == Folded(full.substr(0, full.find(L'.'))) ||
         asked == L"localhost";
}

// A call that only checks that `hKey` is a key of this process.
LONG CheckHandle(HKEY hKey) {
  RegistryLock registry;
  return Read(*registry, [&] {
    emulated::Target target;
    return emulated::Resolve(*registry, hKey, target);
  });
}

}  // namespace

LONG RegOverridePredefKey(HKEY hKey, HKEY hNewHKey) {
  if (!Overridable(hKey)) return ERROR_INVALID_HANDLE;
  RegistryLock registry;
  return Read(*registry, [&] {
    HKEY replacement = 0;
    if (hNewHKey != 0) {
      // The override keeps a handle of its own: the caller may close theirs.
      emulated::Target target;
      if (const LONG status = emulated::Resolve(*registry, hNewHKey, target)) {
        return status;
      }
      if (const LONG status =
              emulated::NewHandle(*registry, target.key, target.granted,
                                  target.Merged(), replacement)) {
        return status;
      }
    }
    const auto previous = registry->overrides.find(hKey);
    if (previous != registry->overrides.end()) {
      registry->handles.erase(previous->second & ~emulated::kTagBits);
      registry->overrides.erase(previous);
    }
    if (replacement != 0) registry->overrides.emplace(hKey, replacement);
    return ERROR_SUCCESS;
  });
}

LONG RegOpenCurrentUser(REGSAM samDesired, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  RegistryLock registry;
  return Read(*registry, [&] {
    emulated::CachedKey* key = nullptr;
    if (const LONG status =
            registry->view.Key(emulated::seed::kCurrentUser, key)) {
      return status;
    }
    REGSAM granted = 0;
    if (const LONG status =
            emulated::Grant(*registry, key, samDesired, granted)) {
      return status;
    }
    return emulated::NewHandle(*registry, key, granted, false, *phkResult);
  });
}

// The emulation keeps no cache of the predefined keys' targets to disable.
LONG RegDisablePredefinedCache() { return ERROR_SUCCESS; }
LONG RegDisablePredefinedCacheEx() { return ERROR_SUCCESS; }

LONG RegConnectRegistryW(LPCWSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  // There is no remote registry: every other machine is out of reach.
  if (!ThisMachine(lpMachineName)) return ERROR_BAD_NETPATH;
  if (!emulated::IsRoot(hKey)) return ERROR_INVALID_HANDLE;
  // This machine's registry is the local one, its predefined key as given.
  if (const LONG status = CheckHandle(hKey)) return status;
  *phkResult = hKey;
  return ERROR_SUCCESS;
}

LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
  if (lpMachineName == nullptr) {
    return RegConnectRegistryW(nullptr, hKey, phkResult);
  }
  return RegConnectRegistryW(AnsiToWide(lpMachineName).c_str(), hKey,
                             phkResult);
}

// Registry reflection was removed from 64-bit Windows (7 and later), whose
// answers these are: a key of this process is accepted, nothing is
// reflected, and reflection reads as disabled.
LONG RegDisableReflectionKey(HKEY hBase) { return CheckHandle(hBase); }
LONG RegEnableReflectionKey(HKEY hBase) { return CheckHandle(hBase); }

LONG RegQueryReflectionKey(HKEY hBase, BOOL* bIsReflectionDisabled) {
  if (bIsReflectionDisabled == nullptr) return ERROR_INVALID_PARAMETER;
  if (const LONG status = CheckHandle(hBase)) return status;
  *bIsReflectionDisabled = 1;
  return ERROR_SUCCESS;
}

}  // namespace corvane::platform
