// The C functions of corvane/winreg.h on the emulated registry: each turns
// Windows' pointer-sized HKEY into the platform layer's 32-bit handle, calls
// corvane::platform, and turns handles and structures back. Checks of
// arguments stay with the platform layer, so statuses and their order are
// the emulation's own.
//
// Platform.h comes first: corvane/winreg.h defines Windows' constants as
// macros, which would rewrite the platform layer's names of the same
// spelling. Below, constants are only ever spelled Windows' way.
#include "platform/Platform.h"
// clang-format off
#include "corvane/winreg.h"
// clang-format on

#include <cstdint>

namespace p = corvane::platform;

namespace {

// A handle is a 32-bit number held in a pointer, sign-extended as Windows
// extends the predefined keys. A pointer whose upper half is anything else
// (a stray pointer, a zero-extended 0x80000000) must not alias whichever key
// its low half happens to name: it becomes handle 0, which the platform
// answers as the invalid handle it is.
p::HKEY In(HKEY key) {
  const auto value = reinterpret_cast<std::intptr_t>(key);
  const auto low = static_cast<std::int32_t>(value);
  return low == value ? static_cast<p::HKEY>(low) : 0;
}

HKEY Out(p::HKEY handle) {
  return reinterpret_cast<HKEY>(
      static_cast<std::intptr_t>(static_cast<std::int32_t>(handle)));
}

// An out-handle through a local copy, written back only when the platform
// wrote it: a call turned away early (a bad handle) leaves the caller's
// variable as it was, as Windows does, and any other failure the NULL the
// platform put there.
class HkeyResult {
 public:
  explicit HkeyResult(PHKEY target) : target_(target) {}
  ~HkeyResult() {
    if (target_ != nullptr && value_ != kUntouched) *target_ = Out(value_);
  }
  HkeyResult(const HkeyResult&) = delete;
  HkeyResult& operator=(const HkeyResult&) = delete;
  p::HKEY* get() { return target_ != nullptr ? &value_ : nullptr; }

 private:
  // No key has this handle: not a root, and past the last one handed out.
  static constexpr p::HKEY kUntouched = 0xFFFFFFFFu;
  PHKEY target_;
  p::HKEY value_ = kUntouched;
};

p::SECURITY_ATTRIBUTES* Attributes(const SECURITY_ATTRIBUTES* from,
                                   p::SECURITY_ATTRIBUTES& to) {
  if (from == nullptr) return nullptr;
  to.nLength = sizeof to;
  to.lpSecurityDescriptor = from->lpSecurityDescriptor;
  to.bInheritHandle = from->bInheritHandle;
  return &to;
}

// A failed call leaves the caller's FILETIME as it was.
LSTATUS CopyTime(LSTATUS status, const p::FILETIME& from, PFILETIME to) {
  if (status == ERROR_SUCCESS && to != nullptr) {
    to->dwLowDateTime = from.dwLowDateTime;
    to->dwHighDateTime = from.dwHighDateTime;
  }
  return status;
}

}  // namespace

extern "C" {

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                      REGSAM samDesired, PHKEY phkResult) {
  HkeyResult result(phkResult);
  return p::RegOpenKeyExA(In(hKey), lpSubKey, ulOptions, samDesired,
                          result.get());
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions,
                      REGSAM samDesired, PHKEY phkResult) {
  HkeyResult result(phkResult);
  return p::RegOpenKeyExW(In(hKey), lpSubKey, ulOptions, samDesired,
                          result.get());
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved,
                        LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
  p::SECURITY_ATTRIBUTES attributes{};
  HkeyResult result(phkResult);
  return p::RegCreateKeyExA(In(hKey), lpSubKey, Reserved, lpClass, dwOptions,
                            samDesired,
                            Attributes(lpSecurityAttributes, attributes),
                            result.get(), lpdwDisposition);
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved,
                        LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
  p::SECURITY_ATTRIBUTES attributes{};
  HkeyResult result(phkResult);
  return p::RegCreateKeyExW(In(hKey), lpSubKey, Reserved, lpClass, dwOptions,
                            samDesired,
                            Attributes(lpSecurityAttributes, attributes),
                            result.get(), lpdwDisposition);
}

LSTATUS RegCloseKey(HKEY hKey) { return p::RegCloseKey(In(hKey)); }

LSTATUS RegFlushKey(HKEY hKey) { return p::RegFlushKey(In(hKey)); }

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                         LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return p::RegQueryValueExA(In(hKey), lpValueName, lpReserved, lpType, lpData,
                             lpcbData);
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                         LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return p::RegQueryValueExW(In(hKey), lpValueName, lpReserved, lpType, lpData,
                             lpcbData);
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved,
                       DWORD dwType, const BYTE* lpData, DWORD cbData) {
  return p::RegSetValueExA(In(hKey), lpValueName, Reserved, dwType, lpData,
                           cbData);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved,
                       DWORD dwType, const BYTE* lpData, DWORD cbData) {
  return p::RegSetValueExW(In(hKey), lpValueName, Reserved, dwType, lpData,
                           cbData);
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                      LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return p::RegEnumValueA(In(hKey), dwIndex, lpValueName, lpcchValueName,
                          lpReserved, lpType, lpData, lpcbData);
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                      LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return p::RegEnumValueW(In(hKey), dwIndex, lpValueName, lpcchValueName,
                          lpReserved, lpType, lpData, lpcbData);
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                      LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                      PFILETIME lpftLastWriteTime) {
  p::FILETIME time{};
  return CopyTime(p::RegEnumKeyExA(In(hKey), dwIndex, lpName, lpcchName,
                                   lpReserved, lpClass, lpcchClass,
                                   lpftLastWriteTime ? &time : nullptr),
                  time, lpftLastWriteTime);
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName,
                      LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  p::FILETIME time{};
  return CopyTime(p::RegEnumKeyExW(In(hKey), dwIndex, lpName, lpcchName,
                                   lpReserved, lpClass, lpcchClass,
                                   lpftLastWriteTime ? &time : nullptr),
                  time, lpftLastWriteTime);
}

LSTATUS RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                         LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                         LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                         LPDWORD lpcbMaxValueLen,
                         LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime) {
  p::FILETIME time{};
  return CopyTime(
      p::RegQueryInfoKeyA(In(hKey), lpClass, lpcchClass, lpReserved, lpcSubKeys,
                          lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                          lpcbMaxValueNameLen, lpcbMaxValueLen,
                          lpcbSecurityDescriptor,
                          lpftLastWriteTime ? &time : nullptr),
      time, lpftLastWriteTime);
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass,
                         LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                         LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                         LPDWORD lpcbMaxValueLen,
                         LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime) {
  p::FILETIME time{};
  return CopyTime(
      p::RegQueryInfoKeyW(In(hKey), lpClass, lpcchClass, lpReserved, lpcSubKeys,
                          lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                          lpcbMaxValueNameLen, lpcbMaxValueLen,
                          lpcbSecurityDescriptor,
                          lpftLastWriteTime ? &time : nullptr),
      time, lpftLastWriteTime);
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return p::RegDeleteKeyA(In(hKey), lpSubKey);
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  return p::RegDeleteKeyW(In(hKey), lpSubKey);
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return p::RegDeleteValueA(In(hKey), lpValueName);
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return p::RegDeleteValueW(In(hKey), lpValueName);
}

LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  return p::RegDeleteTreeA(In(hKey), lpSubKey);
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  return p::RegDeleteTreeW(In(hKey), lpSubKey);
}

LSTATUS RegGetValueA(HKEY hkey, LPCSTR lpSubKey, LPCSTR lpValue, DWORD dwFlags,
                     LPDWORD pdwType, PVOID pvData, LPDWORD pcbData) {
  return p::RegGetValueA(In(hkey), lpSubKey, lpValue, dwFlags, pdwType, pvData,
                         pcbData);
}

LSTATUS RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue,
                     DWORD dwFlags, LPDWORD pdwType, PVOID pvData,
                     LPDWORD pcbData) {
  return p::RegGetValueW(In(hkey), lpSubKey, lpValue, dwFlags, pdwType, pvData,
                         pcbData);
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  return p::FormatMessageA(dwFlags, lpSource, dwMessageId, dwLanguageId,
                           lpBuffer, nSize, Arguments);
}

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  return p::FormatMessageW(dwFlags, lpSource, dwMessageId, dwLanguageId,
                           lpBuffer, nSize, Arguments);
}

DWORD GetLastError(void) { return p::GetLastError(); }

void SetLastError(DWORD dwErrCode) { p::SetLastError(dwErrCode); }

}  // extern "C"
