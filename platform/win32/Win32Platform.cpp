// The Windows backend: every platform function forwards to ADVAPI32 or
// KERNEL32. Key handles cross as 32-bit values, sign-extended to HKEY on the
// way in (so 0x80000000 becomes the predefined HKEY_CLASSES_ROOT) and
// truncated on the way out; registry handles always fit in 32 bits.
//
// This header must come before <windows.h>: see its note on macros.
#include "platform/Platform.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <cstring>
#include <vector>

namespace corvane::platform {
namespace {

::HKEY ToSystem(HKEY key) {
  return reinterpret_cast<::HKEY>(
      static_cast<INT_PTR>(static_cast<std::int32_t>(key)));
}

HKEY FromSystem(::HKEY key) {
  return static_cast<HKEY>(reinterpret_cast<UINT_PTR>(key));
}

// DWORD is unsigned long on Windows and std::uint32_t here: same width,
// different types. An in/out DWORD goes through a local copy, keeping NULL.
class DwordArg {
 public:
  explicit DwordArg(DWORD* target)
      : target_(target), value_(target ? *target : 0) {}
  ~DwordArg() {
    if (target_) *target_ = static_cast<DWORD>(value_);
  }
  DwordArg(const DwordArg&) = delete;
  DwordArg& operator=(const DwordArg&) = delete;
  ::DWORD* get() { return target_ ? &value_ : nullptr; }

 private:
  DWORD* target_;
  ::DWORD value_;
};

class HkeyArg {
 public:
  explicit HkeyArg(HKEY* target)
      : target_(target), value_(target ? ToSystem(*target) : nullptr) {}
  ~HkeyArg() {
    if (target_) *target_ = FromSystem(value_);
  }
  HkeyArg(const HkeyArg&) = delete;
  HkeyArg& operator=(const HkeyArg&) = delete;
  ::HKEY* get() { return target_ ? &value_ : nullptr; }

 private:
  HKEY* target_;
  ::HKEY value_;
};

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions,
                   REGSAM samDesired, HKEY* phkResult) {
  HkeyArg result(phkResult);
  return ::RegOpenKeyExA(ToSystem(hKey), lpSubKey, ulOptions, samDesired,
                         result.get());
}

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved,
                     char* lpClass, DWORD dwOptions, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
  ::SECURITY_ATTRIBUTES attributes{};
  ::SECURITY_ATTRIBUTES* attributesArg = nullptr;
  if (lpSecurityAttributes) {
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor =
        lpSecurityAttributes->lpSecurityDescriptor;
    attributes.bInheritHandle = lpSecurityAttributes->bInheritHandle;
    attributesArg = &attributes;
  }
  HkeyArg result(phkResult);
  DwordArg disposition(lpdwDisposition);
  return ::RegCreateKeyExA(ToSystem(hKey), lpSubKey, Reserved, lpClass,
                           dwOptions, samDesired, attributesArg, result.get(),
                           disposition.get());
}

LONG RegCloseKey(HKEY hKey) { return ::RegCloseKey(ToSystem(hKey)); }

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                      DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  DwordArg reserved(lpReserved), type(lpType), size(lpcbData);
  return ::RegQueryValueExA(ToSystem(hKey), lpValueName, reserved.get(),
                            type.get(), lpData, size.get());
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName,
                   DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                   BYTE* lpData, DWORD* lpcbData) {
  DwordArg nameLength(lpcchValueName), reserved(lpReserved), type(lpType),
      size(lpcbData);
  return ::RegEnumValueA(ToSystem(hKey), dwIndex, lpValueName, nameLength.get(),
                         reserved.get(), type.get(), lpData, size.get());
}

LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved,
                    DWORD dwType, const BYTE* lpData, DWORD cbData) {
  return ::RegSetValueExA(ToSystem(hKey), lpValueName, Reserved, dwType, lpData,
                          cbData);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName,
                   DWORD* lpReserved, char* lpClass, DWORD* lpcchClass,
                   FILETIME* lpftLastWriteTime) {
  DwordArg nameLength(lpcchName), reserved(lpReserved), classLength(lpcchClass);
  ::FILETIME written{};
  const LONG status = ::RegEnumKeyExA(
      ToSystem(hKey), dwIndex, lpName, nameLength.get(), reserved.get(),
      lpClass, classLength.get(), lpftLastWriteTime ? &written : nullptr);
  if (lpftLastWriteTime && status == ERROR_SUCCESS) {
    lpftLastWriteTime->dwLowDateTime = written.dwLowDateTime;
    lpftLastWriteTime->dwHighDateTime = written.dwHighDateTime;
  }
  return status;
}

LONG RegQueryInfoKeyA(HKEY hKey, char* lpClass, DWORD* lpcchClass,
                      DWORD* lpReserved, DWORD* lpcSubKeys,
                      DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                      DWORD* lpcValues, DWORD* lpcbMaxValueNameLen,
                      DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                      FILETIME* lpftLastWriteTime) {
  DwordArg classLength(lpcchClass), reserved(lpReserved), subKeys(lpcSubKeys),
      maxSubKey(lpcbMaxSubKeyLen), maxClass(lpcbMaxClassLen), values(lpcValues),
      maxValueName(lpcbMaxValueNameLen), maxValue(lpcbMaxValueLen),
      security(lpcbSecurityDescriptor);
  ::FILETIME written{};
  const LONG status = ::RegQueryInfoKeyA(
      ToSystem(hKey), lpClass, classLength.get(), reserved.get(), subKeys.get(),
      maxSubKey.get(), maxClass.get(), values.get(), maxValueName.get(),
      maxValue.get(), security.get(), lpftLastWriteTime ? &written : nullptr);
  if (lpftLastWriteTime && status == ERROR_SUCCESS) {
    lpftLastWriteTime->dwLowDateTime = written.dwLowDateTime;
    lpftLastWriteTime->dwHighDateTime = written.dwHighDateTime;
  }
  return status;
}

LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  return ::RegDeleteKeyA(ToSystem(hKey), lpSubKey);
}

LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  return ::RegDeleteValueA(ToSystem(hKey), lpValueName);
}

LONG RegFlushKey(HKEY hKey) { return ::RegFlushKey(ToSystem(hKey)); }

DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, char* lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  return ::FormatMessageA(dwFlags, lpSource, dwMessageId, dwLanguageId,
                          lpBuffer, nSize, Arguments);
}

DWORD GetVersion() { return ::GetVersion(); }

DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, DWORD nSize) {
  return ::ExpandEnvironmentStringsA(lpSrc, lpDst, nSize);
}

int lstrlenW(const wchar_t* lpString) { return ::lstrlenW(lpString); }

// <windows.h> defines RtlMoveMemory as a macro over memmove; ours is the
// function with the same effect.
#undef RtlMoveMemory
void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length) {
  std::memmove(Destination, Source, Length);
}

DWORD GetLastError() { return ::GetLastError(); }

void SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }

// No best-fit mapping: a character the code page lacks becomes "?", never a
// look-alike that would name another key.
std::string WideToAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length,
                            nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length,
                        out.data(), needed, nullptr, nullptr);
  return out;
}

std::wstring AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int needed =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), needed);
  return out;
}

std::string RegistryLoadError() { return {}; }

}  // namespace corvane::platform
