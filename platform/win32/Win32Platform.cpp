// The Windows backend: every platform function forwards to ADVAPI32 or
// KERNEL32. Key handles cross as 32-bit values, sign-extended to HKEY on the
// way in (so 0x80000000 becomes the predefined HKEY_CLASSES_ROOT) and
// truncated on the way out; registry handles always fit in 32 bits.
//
// This header must come before <windows.h>: see its note on macros.
#include "base/Unicode.h"
#include "platform/Platform.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <climits>
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

// The wide forms: wchar_t is UTF-16 here, the system's own WCHAR.
LONG RegOpenKeyExW(HKEY hKey, const wchar_t* lpSubKey, DWORD ulOptions,
                   REGSAM samDesired, HKEY* phkResult) {
  HkeyArg result(phkResult);
  return ::RegOpenKeyExW(ToSystem(hKey), lpSubKey, ulOptions, samDesired,
                         result.get());
}

LONG RegCreateKeyExW(HKEY hKey, const wchar_t* lpSubKey, DWORD Reserved,
                     wchar_t* lpClass, DWORD dwOptions, REGSAM samDesired,
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
  return ::RegCreateKeyExW(ToSystem(hKey), lpSubKey, Reserved, lpClass,
                           dwOptions, samDesired, attributesArg, result.get(),
                           disposition.get());
}

LONG RegQueryValueExW(HKEY hKey, const wchar_t* lpValueName, DWORD* lpReserved,
                      DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  DwordArg reserved(lpReserved), type(lpType), size(lpcbData);
  return ::RegQueryValueExW(ToSystem(hKey), lpValueName, reserved.get(),
                            type.get(), lpData, size.get());
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, wchar_t* lpValueName,
                   DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                   BYTE* lpData, DWORD* lpcbData) {
  DwordArg nameLength(lpcchValueName), reserved(lpReserved), type(lpType),
      size(lpcbData);
  return ::RegEnumValueW(ToSystem(hKey), dwIndex, lpValueName, nameLength.get(),
                         reserved.get(), type.get(), lpData, size.get());
}

LONG RegSetValueExW(HKEY hKey, const wchar_t* lpValueName, DWORD Reserved,
                    DWORD dwType, const BYTE* lpData, DWORD cbData) {
  return ::RegSetValueExW(ToSystem(hKey), lpValueName, Reserved, dwType, lpData,
                          cbData);
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, wchar_t* lpName, DWORD* lpcchName,
                   DWORD* lpReserved, wchar_t* lpClass, DWORD* lpcchClass,
                   FILETIME* lpftLastWriteTime) {
  DwordArg nameLength(lpcchName), reserved(lpReserved), classLength(lpcchClass);
  ::FILETIME time{};
  const LONG status = ::RegEnumKeyExW(
      ToSystem(hKey), dwIndex, lpName, nameLength.get(), reserved.get(),
      lpClass, classLength.get(), lpftLastWriteTime ? &time : nullptr);
  if (lpftLastWriteTime && status == ERROR_SUCCESS) {
    lpftLastWriteTime->dwLowDateTime = time.dwLowDateTime;
    lpftLastWriteTime->dwHighDateTime = time.dwHighDateTime;
  }
  return status;
}

LONG RegQueryInfoKeyW(HKEY hKey, wchar_t* lpClass, DWORD* lpcchClass,
                      DWORD* lpReserved, DWORD* lpcSubKeys,
                      DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                      DWORD* lpcValues, DWORD* lpcbMaxValueNameLen,
                      DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                      FILETIME* lpftLastWriteTime) {
  DwordArg classLength(lpcchClass), reserved(lpReserved), subKeys(lpcSubKeys),
      maxSubKey(lpcbMaxSubKeyLen), maxClass(lpcbMaxClassLen), values(lpcValues),
      maxValueName(lpcbMaxValueNameLen), maxValue(lpcbMaxValueLen),
      security(lpcbSecurityDescriptor);
  ::FILETIME time{};
  const LONG status = ::RegQueryInfoKeyW(
      ToSystem(hKey), lpClass, classLength.get(), reserved.get(), subKeys.get(),
      maxSubKey.get(), maxClass.get(), values.get(), maxValueName.get(),
      maxValue.get(), security.get(), lpftLastWriteTime ? &time : nullptr);
  if (lpftLastWriteTime) {
    lpftLastWriteTime->dwLowDateTime = time.dwLowDateTime;
    lpftLastWriteTime->dwHighDateTime = time.dwHighDateTime;
  }
  return status;
}

LONG RegDeleteKeyW(HKEY hKey, const wchar_t* lpSubKey) {
  return ::RegDeleteKeyW(ToSystem(hKey), lpSubKey);
}

LONG RegDeleteValueW(HKEY hKey, const wchar_t* lpValueName) {
  return ::RegDeleteValueW(ToSystem(hKey), lpValueName);
}

LONG RegGetValueA(HKEY hkey, const char* lpSubKey, const char* lpValue,
                  DWORD dwFlags, DWORD* pdwType, void* pvData, DWORD* pcbData) {
  DwordArg type(pdwType), size(pcbData);
  return ::RegGetValueA(ToSystem(hkey), lpSubKey, lpValue, dwFlags, type.get(),
                        pvData, size.get());
}

LONG RegGetValueW(HKEY hkey, const wchar_t* lpSubKey, const wchar_t* lpValue,
                  DWORD dwFlags, DWORD* pdwType, void* pvData, DWORD* pcbData) {
  DwordArg type(pdwType), size(pcbData);
  return ::RegGetValueW(ToSystem(hkey), lpSubKey, lpValue, dwFlags, type.get(),
                        pvData, size.get());
}

LONG RegDeleteTreeA(HKEY hKey, const char* lpSubKey) {
  return ::RegDeleteTreeA(ToSystem(hKey), lpSubKey);
}

LONG RegDeleteTreeW(HKEY hKey, const wchar_t* lpSubKey) {
  return ::RegDeleteTreeW(ToSystem(hKey), lpSubKey);
}

DWORD FormatMessageW(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, wchar_t* lpBuffer, DWORD nSize,
                     va_list* Arguments) {
  return ::FormatMessageW(dwFlags, lpSource, dwMessageId, dwLanguageId,
                          lpBuffer, nSize, Arguments);
}

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

namespace {

// No best-fit mapping: a character the code page lacks becomes "?", never a
// look-alike that would name another key. Some code pages refuse that flag,
// and every other, with ERROR_INVALID_FLAGS: GB18030 (54936, which Windows
// 10 and later can run as the ANSI code page), UTF-7, Symbol and the
// ISO-2022 and ISCII families. UTF-8 (the other ANSI code page they offer)
// takes only WC_ERR_INVALID_CHARS: an unpaired surrogate then fails instead
// of becoming U+FFFD, a character no caller asked for.
::DWORD WideFlags(::UINT codePage) {
  if (codePage == CP_ACP) codePage = ::GetACP();
  if (codePage == CP_UTF8) return WC_ERR_INVALID_CHARS;
  const bool takesNoFlags = codePage == 42 || codePage == 54936 ||
                            codePage == 65000 ||
                            (codePage >= 50220 && codePage <= 50229) ||
                            (codePage >= 57002 && codePage <= 57011);
  return takesNoFlags ? 0 : WC_NO_BEST_FIT_CHARS;
}

// Why a conversion failed. A code page that isn't installed keeps its own
// status; whatever else the system says, the text did not translate.
LONG ConversionFailure() {
  const ::DWORD error = ::GetLastError();
  return error == ERROR_INVALID_PARAMETER ? ERROR_INVALID_PARAMETER
                                          : ERROR_NO_UNICODE_TRANSLATION;
}

bool FitsInt(std::size_t size) {
  return size <= static_cast<std::size_t>(INT_MAX);
}

}  // namespace

LONG WideToAnsi(std::wstring_view text, std::string& out, DWORD codePage) {
  out.clear();
  if (text.empty()) return ERROR_SUCCESS;
  if (!FitsInt(text.size())) return ERROR_INVALID_PARAMETER;
  const ::DWORD flags = WideFlags(codePage);
  const int length = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(codePage, flags, text.data(), length,
                                           nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return ConversionFailure();
  out.resize(static_cast<std::size_t>(needed));
  if (::WideCharToMultiByte(codePage, flags, text.data(), length, out.data(),
                            needed, nullptr, nullptr) != needed) {
    out.clear();
    return ConversionFailure();
  }
  return ERROR_SUCCESS;
}

LONG AnsiToWide(std::string_view text, std::wstring& out, DWORD codePage) {
  out.clear();
  if (text.empty()) return ERROR_SUCCESS;
  if (!FitsInt(text.size())) return ERROR_INVALID_PARAMETER;
  const int length = static_cast<int>(text.size());
  const int needed =
      ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return ConversionFailure();
  out.resize(static_cast<std::size_t>(needed));
  if (::MultiByteToWideChar(codePage, 0, text.data(), length, out.data(),
                            needed) != needed) {
    out.clear();
    return ConversionFailure();
  }
  return ERROR_SUCCESS;
}

// For display only: what can't be converted is shown as "?" rather than
// dropped, and ASCII reads the same in every ANSI code page.
std::string WideToAnsi(std::wstring_view text) {
  std::string out;
  if (WideToAnsi(text, out) == ERROR_SUCCESS) return out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    // A surrogate pair is one character, so one "?".
    if (base::IsHighSurrogate(c) && i + 1 < text.size() &&
        base::IsLowSurrogate(text[i + 1])) {
      ++i;
    }
    out += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return out;
}

std::wstring AnsiToWide(std::string_view text) {
  std::wstring out;
  if (AnsiToWide(text, out) == ERROR_SUCCESS) return out;
  for (const char c : text) {
    out +=
        static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : L'?';
  }
  return out;
}

std::string RegistryLoadError() { return {}; }

void DisableSqliteMemoryStatistics() {}

}  // namespace corvane::platform
