// The registry's wide functions with Windows' own WCHAR: names in UTF-16
// units, string data as UTF-16LE bytes, two a unit, exactly as the store
// keeps them. They are the emulation's core: the public W functions of
// Platform.h are the same code over wchar_t, and the ANSI functions are
// conversions over these, as Windows' ANSI functions are over its wide ones.
// Each has the Win32 W function's arguments and answers.
#pragma once

#include "platform/Platform.h"

namespace corvane::platform::emulated::utf16 {

LONG RegOpenKeyEx(HKEY hKey, const char16_t* lpSubKey, DWORD ulOptions,
                  REGSAM samDesired, HKEY* phkResult);
LONG RegCreateKeyEx(HKEY hKey, const char16_t* lpSubKey, DWORD Reserved,
                    char16_t* lpClass, DWORD dwOptions, REGSAM samDesired,
                    const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                    HKEY* phkResult, DWORD* lpdwDisposition);
LONG RegQueryValueEx(HKEY hKey, const char16_t* lpValueName, DWORD* lpReserved,
                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData);
LONG RegEnumValue(HKEY hKey, DWORD dwIndex, char16_t* lpValueName,
                  DWORD* lpcchValueName, DWORD* lpReserved, DWORD* lpType,
                  BYTE* lpData, DWORD* lpcbData);
LONG RegSetValueEx(HKEY hKey, const char16_t* lpValueName, DWORD Reserved,
                   DWORD dwType, const BYTE* lpData, DWORD cbData);
LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, char16_t* lpName, DWORD* lpcchName,
                  DWORD* lpReserved, char16_t* lpClass, DWORD* lpcchClass,
                  FILETIME* lpftLastWriteTime);
LONG RegQueryInfoKey(HKEY hKey, char16_t* lpClass, DWORD* lpcchClass,
                     DWORD* lpReserved, DWORD* lpcSubKeys,
                     DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                     DWORD* lpcValues, DWORD* lpcbMaxValueNameLen,
                     DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                     FILETIME* lpftLastWriteTime);
LONG RegDeleteKey(HKEY hKey, const char16_t* lpSubKey);
LONG RegDeleteValue(HKEY hKey, const char16_t* lpValueName);
LONG RegDeleteTree(HKEY hKey, const char16_t* lpSubKey);

}  // namespace corvane::platform::emulated::utf16
