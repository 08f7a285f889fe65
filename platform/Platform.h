// The system functions the registry object model calls, in their Win32 shape
// and argument order. Key handles are 32-bit values (HKEY_CLASSES_ROOT is
// 0x80000000) and statuses are Win32 error codes. The build links exactly one
// backend: win32/ forwards to ADVAPI32 and KERNEL32, emulated/ answers from
// a live registry kept in an SQLite store that every process naming the same
// store shares, as Windows' registry is shared.
//
// Everything lives in namespace corvane::platform so that these declarations
// can sit beside <windows.h> in the win32 backend. A file that includes both
// must include this header first: <windows.h> defines macros (HKEY_*,
// ERROR_*, REG_*) that would otherwise rewrite the constants below.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvane::platform {

using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using REGSAM = std::uint32_t;
// A registry key handle as the model carries it: 32 bits. The win32 backend
// sign-extends it to the system's HKEY and back.
using HKEY = std::uint32_t;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  std::int32_t bInheritHandle;
};

// Predefined keys.
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;
inline constexpr HKEY HKEY_CURRENT_USER_LOCAL_SETTINGS = 0x80000007u;
inline constexpr HKEY HKEY_PERFORMANCE_TEXT = 0x80000050u;
inline constexpr HKEY HKEY_PERFORMANCE_NLSTEXT = 0x80000060u;

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM WRITE_DAC = 0x00040000;
inline constexpr REGSAM WRITE_OWNER = 0x00080000;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_EXECUTE = 0x20019;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
inline constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;

// RegCreateKeyExA options and dispositions.
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_OPTION_VOLATILE = 1;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// RegNotifyChangeKeyValue filters.
inline constexpr DWORD REG_NOTIFY_CHANGE_NAME = 0x1;
inline constexpr DWORD REG_NOTIFY_CHANGE_ATTRIBUTES = 0x2;
inline constexpr DWORD REG_NOTIFY_CHANGE_LAST_SET = 0x4;
inline constexpr DWORD REG_NOTIFY_CHANGE_SECURITY = 0x8;
inline constexpr DWORD REG_NOTIFY_THREAD_AGNOSTIC = 0x10000000;

// Registry data types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_RESOURCE_LIST = 8;
inline constexpr DWORD REG_FULL_RESOURCE_DESCRIPTOR = 9;
inline constexpr DWORD REG_RESOURCE_REQUIREMENTS_LIST = 10;
inline constexpr DWORD REG_QWORD = 11;

// Status codes the model and its tests meet.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_INVALID_FUNCTION = 1;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_PATH_NOT_FOUND = 3;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_INVALID_DATA = 13;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_MR_MID_NOT_FOUND = 317;
inline constexpr LONG ERROR_NOACCESS = 998;
inline constexpr LONG ERROR_BADDB = 1009;
inline constexpr LONG ERROR_BADKEY = 1010;
inline constexpr LONG ERROR_CANTOPEN = 1011;
inline constexpr LONG ERROR_CANTREAD = 1012;
inline constexpr LONG ERROR_CANTWRITE = 1013;
inline constexpr LONG ERROR_REGISTRY_RECOVERED = 1014;
inline constexpr LONG ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr LONG ERROR_NOT_REGISTRY_FILE = 1017;
inline constexpr LONG ERROR_KEY_DELETED = 1018;
inline constexpr LONG ERROR_NO_LOG_SPACE = 1019;
inline constexpr LONG ERROR_KEY_HAS_CHILDREN = 1020;
inline constexpr LONG ERROR_CHILD_MUST_BE_VOLATILE = 1021;
inline constexpr LONG ERROR_NO_UNICODE_TRANSLATION = 1113;

// Code pages for the text conversions below.
inline constexpr DWORD CP_ACP = 0;  // the system's ANSI code page
inline constexpr DWORD CP_UTF8 = 65001;

// FormatMessage flags: where the text comes from, and whether inserts are
// expanded.
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// The Win32 names of pointer types, so that the list below reads as
// Windows' own declarations do.
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PHKEY = HKEY*;
using PFILETIME = FILETIME*;
using PVOID = void*;
using BOOL = std::int32_t;
using LPCVOID = const void*;
using PLONG = LONG*;

// One value asked of RegQueryMultipleValues: its name in, its size, type
// and where its data lies in the caller's buffer out (laid out as Windows'
// VALENTA and VALENTW).
struct VALENTA {
  LPSTR ve_valuename;
  DWORD ve_valuelen;
  std::uintptr_t ve_valueptr;
  DWORD ve_type;
};
struct VALENTW {
  LPWSTR ve_valuename;
  DWORD ve_valuelen;
  std::uintptr_t ve_valueptr;
  DWORD ve_type;
};
using PVALENTA = VALENTA*;
using PVALENTW = VALENTW*;
// What RegQueryMultipleValues answers when the list and the data asked
// for exceed a megabyte together.
inline constexpr LONG ERROR_TRANSFER_TOO_LONG = 222;

// RegGetValue's flags: which types are wanted, and not expanding.
inline constexpr DWORD RRF_RT_REG_NONE = 0x00000001;
inline constexpr DWORD RRF_RT_REG_SZ = 0x00000002;
inline constexpr DWORD RRF_RT_REG_EXPAND_SZ = 0x00000004;
inline constexpr DWORD RRF_RT_REG_BINARY = 0x00000008;
inline constexpr DWORD RRF_RT_REG_DWORD = 0x00000010;
inline constexpr DWORD RRF_RT_REG_MULTI_SZ = 0x00000020;
inline constexpr DWORD RRF_RT_REG_QWORD = 0x00000040;
inline constexpr DWORD RRF_RT_DWORD = RRF_RT_REG_BINARY | RRF_RT_REG_DWORD;
inline constexpr DWORD RRF_RT_QWORD = RRF_RT_REG_BINARY | RRF_RT_REG_QWORD;
inline constexpr DWORD RRF_RT_ANY = 0x0000FFFF;
inline constexpr DWORD RRF_NOEXPAND = 0x10000000;
inline constexpr DWORD RRF_ZEROONFAILURE = 0x20000000;
inline constexpr DWORD RRF_SUBKEY_WOW6464KEY = 0x00010000;
inline constexpr DWORD RRF_SUBKEY_WOW6432KEY = 0x00020000;
inline constexpr LONG ERROR_UNSUPPORTED_TYPE = 1630;

// ADVAPI32: the registry functions, each once, in Windows' own types and
// parameter names:
//   FUNCTION(name, (parameters), (arguments))  written by each backend
//   WIDE(name, (parameters), (arguments))      a W form the emulation writes
//                                              once over its text unit
//                                              (emulated/calls/RegistryWide.h)
// A file expands the list with two macros of its own for the two kinds:
// here it declares every function; the Windows backend forwards them to
// ADVAPI32, and on Linux the drop-in <corvane/winreg.h> forwards its C
// functions to these.
//
// The W forms serve code that must not lose text (corvane-reg, and Windows
// registry code built on Linux): names and string data are in wchar_t
// units, UTF-16 on Windows and UTF-32 on Linux, where the emulation stores
// them as UTF-16 and sizes of string data count sizeof(wchar_t) bytes a
// character.
#define CORVANE_REGISTRY_FUNCTIONS(FUNCTION, WIDE)                             \
  FUNCTION(RegOpenKeyExA,                                                      \
           (HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,    \
            PHKEY phkResult),                                                  \
           (hKey, lpSubKey, ulOptions, samDesired, phkResult))                 \
  WIDE(RegOpenKeyExW,                                                          \
       (HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,       \
        PHKEY phkResult),                                                      \
       (hKey, lpSubKey, ulOptions, samDesired, phkResult))                     \
  FUNCTION(RegCreateKeyExA,                                                    \
           (HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,         \
            DWORD dwOptions, REGSAM samDesired,                                \
            const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,  \
            LPDWORD lpdwDisposition),                                          \
           (hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,          \
            lpSecurityAttributes, phkResult, lpdwDisposition))                 \
  WIDE(RegCreateKeyExW,                                                        \
       (HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,           \
        DWORD dwOptions, REGSAM samDesired,                                    \
        const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,      \
        LPDWORD lpdwDisposition),                                              \
       (hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,              \
        lpSecurityAttributes, phkResult, lpdwDisposition))                     \
  FUNCTION(RegCloseKey, (HKEY hKey), (hKey))                                   \
  FUNCTION(RegFlushKey, (HKEY hKey), (hKey))                                   \
  FUNCTION(RegQueryValueExA,                                                   \
           (HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, \
            LPBYTE lpData, LPDWORD lpcbData),                                  \
           (hKey, lpValueName, lpReserved, lpType, lpData, lpcbData))          \
  WIDE(RegQueryValueExW,                                                       \
       (HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,    \
        LPBYTE lpData, LPDWORD lpcbData),                                      \
       (hKey, lpValueName, lpReserved, lpType, lpData, lpcbData))              \
  FUNCTION(RegSetValueExA,                                                     \
           (HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,       \
            const BYTE* lpData, DWORD cbData),                                 \
           (hKey, lpValueName, Reserved, dwType, lpData, cbData))              \
  WIDE(RegSetValueExW,                                                         \
       (HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,          \
        const BYTE* lpData, DWORD cbData),                                     \
       (hKey, lpValueName, Reserved, dwType, lpData, cbData))                  \
  FUNCTION(                                                                    \
      RegEnumValueA,                                                           \
      (HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,    \
       LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData),   \
      (hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, \
       lpcbData))                                                              \
  WIDE(RegEnumValueW,                                                          \
       (HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,  \
        LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData),  \
       (hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType,        \
        lpData, lpcbData))                                                     \
  FUNCTION(RegEnumKeyExA,                                                      \
           (HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,         \
            LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,             \
            PFILETIME lpftLastWriteTime),                                      \
           (hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, \
            lpftLastWriteTime))                                                \
  WIDE(RegEnumKeyExW,                                                          \
       (HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,            \
        LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,                \
        PFILETIME lpftLastWriteTime),                                          \
       (hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,     \
        lpftLastWriteTime))                                                    \
  FUNCTION(RegQueryInfoKeyA,                                                   \
           (HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,  \
            LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,                      \
            LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,                        \
            LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,              \
            LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime),      \
           (hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys,                 \
            lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, \
            lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime))       \
  WIDE(RegQueryInfoKeyW,                                                       \
       (HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,     \
        LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, \
        LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,                        \
        LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,               \
        PFILETIME lpftLastWriteTime),                                          \
       (hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen,   \
        lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen,      \
        lpcbSecurityDescriptor, lpftLastWriteTime))                            \
  FUNCTION(RegDeleteKeyA, (HKEY hKey, LPCSTR lpSubKey), (hKey, lpSubKey))      \
  WIDE(RegDeleteKeyW, (HKEY hKey, LPCWSTR lpSubKey), (hKey, lpSubKey))         \
  FUNCTION(RegDeleteValueA, (HKEY hKey, LPCSTR lpValueName),                   \
           (hKey, lpValueName))                                                \
  WIDE(RegDeleteValueW, (HKEY hKey, LPCWSTR lpValueName), (hKey, lpValueName)) \
  FUNCTION(RegDeleteTreeA, (HKEY hKey, LPCSTR lpSubKey), (hKey, lpSubKey))     \
  WIDE(RegDeleteTreeW, (HKEY hKey, LPCWSTR lpSubKey), (hKey, lpSubKey))        \
  FUNCTION(RegGetValueA,                                                       \
           (HKEY hkey, LPCSTR lpSubKey, LPCSTR lpValue, DWORD dwFlags,         \
            LPDWORD pdwType, PVOID pvData, LPDWORD pcbData),                   \
           (hkey, lpSubKey, lpValue, dwFlags, pdwType, pvData, pcbData))       \
  FUNCTION(RegGetValueW,                                                       \
           (HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags,       \
            LPDWORD pdwType, PVOID pvData, LPDWORD pcbData),                   \
           (hkey, lpSubKey, lpValue, dwFlags, pdwType, pvData, pcbData))       \
  /* Predefined keys and reflection */                                         \
  FUNCTION(RegOverridePredefKey, (HKEY hKey, HKEY hNewHKey), (hKey, hNewHKey)) \
  FUNCTION(RegOpenCurrentUser, (REGSAM samDesired, PHKEY phkResult),           \
           (samDesired, phkResult))                                            \
  FUNCTION(RegDisablePredefinedCache, (), ())                                  \
  FUNCTION(RegDisablePredefinedCacheEx, (), ())                                \
  FUNCTION(RegConnectRegistryA,                                                \
           (LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult),                 \
           (lpMachineName, hKey, phkResult))                                   \
  FUNCTION(RegConnectRegistryW,                                                \
           (LPCWSTR lpMachineName, HKEY hKey, PHKEY phkResult),                \
           (lpMachineName, hKey, phkResult))                                   \
  FUNCTION(RegDisableReflectionKey, (HKEY hBase), (hBase))                     \
  FUNCTION(RegEnableReflectionKey, (HKEY hBase), (hBase))                      \
  FUNCTION(RegQueryReflectionKey, (HKEY hBase, BOOL * bIsReflectionDisabled),  \
           (hBase, bIsReflectionDisabled))                                     \
  /* Hive files: saving, loading, unloading, restoring, replacing. */          \
  FUNCTION(RegSaveKeyA,                                                        \
           (HKEY hKey, LPCSTR lpFile,                                          \
            const SECURITY_ATTRIBUTES* lpSecurityAttributes),                  \
           (hKey, lpFile, lpSecurityAttributes))                               \
  FUNCTION(RegSaveKeyW,                                                        \
           (HKEY hKey, LPCWSTR lpFile,                                         \
            const SECURITY_ATTRIBUTES* lpSecurityAttributes),                  \
           (hKey, lpFile, lpSecurityAttributes))                               \
  FUNCTION(RegSaveKeyExA,                                                      \
           (HKEY hKey, LPCSTR lpFile,                                          \
            const SECURITY_ATTRIBUTES* lpSecurityAttributes, DWORD Flags),     \
           (hKey, lpFile, lpSecurityAttributes, Flags))                        \
  FUNCTION(RegSaveKeyExW,                                                      \
           (HKEY hKey, LPCWSTR lpFile,                                         \
            const SECURITY_ATTRIBUTES* lpSecurityAttributes, DWORD Flags),     \
           (hKey, lpFile, lpSecurityAttributes, Flags))                        \
  FUNCTION(RegLoadKeyA, (HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile),           \
           (hKey, lpSubKey, lpFile))                                           \
  FUNCTION(RegLoadKeyW, (HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpFile),         \
           (hKey, lpSubKey, lpFile))                                           \
  FUNCTION(RegUnLoadKeyA, (HKEY hKey, LPCSTR lpSubKey), (hKey, lpSubKey))      \
  FUNCTION(RegUnLoadKeyW, (HKEY hKey, LPCWSTR lpSubKey), (hKey, lpSubKey))     \
  FUNCTION(RegRestoreKeyA, (HKEY hKey, LPCSTR lpFile, DWORD dwFlags),          \
           (hKey, lpFile, dwFlags))                                            \
  FUNCTION(RegRestoreKeyW, (HKEY hKey, LPCWSTR lpFile, DWORD dwFlags),         \
           (hKey, lpFile, dwFlags))                                            \
  FUNCTION(RegReplaceKeyA,                                                     \
           (HKEY hKey, LPCSTR lpSubKey, LPCSTR lpNewFile, LPCSTR lpOldFile),   \
           (hKey, lpSubKey, lpNewFile, lpOldFile))                             \
  FUNCTION(                                                                    \
      RegReplaceKeyW,                                                          \
      (HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpNewFile, LPCWSTR lpOldFile),     \
      (hKey, lpSubKey, lpNewFile, lpOldFile))                                  \
  /* Trees, values by subkey, and the older forms over the Ex functions */     \
  FUNCTION(RegCopyTreeA, (HKEY hKeySrc, LPCSTR lpSubKey, HKEY hKeyDest),       \
           (hKeySrc, lpSubKey, hKeyDest))                                      \
  FUNCTION(RegCopyTreeW, (HKEY hKeySrc, LPCWSTR lpSubKey, HKEY hKeyDest),      \
           (hKeySrc, lpSubKey, hKeyDest))                                      \
  FUNCTION(RegDeleteKeyExA,                                                    \
           (HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, DWORD Reserved),    \
           (hKey, lpSubKey, samDesired, Reserved))                             \
  FUNCTION(RegDeleteKeyExW,                                                    \
           (HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD Reserved),   \
           (hKey, lpSubKey, samDesired, Reserved))                             \
  FUNCTION(RegSetKeyValueA,                                                    \
           (HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName, DWORD dwType,      \
            LPCVOID lpData, DWORD cbData),                                     \
           (hKey, lpSubKey, lpValueName, dwType, lpData, cbData))              \
  FUNCTION(RegSetKeyValueW,                                                    \
           (HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName, DWORD dwType,    \
            LPCVOID lpData, DWORD cbData),                                     \
           (hKey, lpSubKey, lpValueName, dwType, lpData, cbData))              \
  FUNCTION(RegDeleteKeyValueA,                                                 \
           (HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName),                   \
           (hKey, lpSubKey, lpValueName))                                      \
  FUNCTION(RegDeleteKeyValueW,                                                 \
           (HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName),                 \
           (hKey, lpSubKey, lpValueName))                                      \
  FUNCTION(RegRenameKey,                                                       \
           (HKEY hKey, LPCWSTR lpSubKeyName, LPCWSTR lpNewKeyName),            \
           (hKey, lpSubKeyName, lpNewKeyName))                                 \
  FUNCTION(RegQueryMultipleValuesA,                                            \
           (HKEY hKey, PVALENTA val_list, DWORD num_vals, LPSTR lpValueBuf,    \
            LPDWORD ldwTotsize),                                               \
           (hKey, val_list, num_vals, lpValueBuf, ldwTotsize))                 \
  FUNCTION(RegQueryMultipleValuesW,                                            \
           (HKEY hKey, PVALENTW val_list, DWORD num_vals, LPWSTR lpValueBuf,   \
            LPDWORD ldwTotsize),                                               \
           (hKey, val_list, num_vals, lpValueBuf, ldwTotsize))                 \
  FUNCTION(RegOpenKeyA, (HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult),         \
           (hKey, lpSubKey, phkResult))                                        \
  FUNCTION(RegOpenKeyW, (HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult),        \
           (hKey, lpSubKey, phkResult))                                        \
  FUNCTION(RegCreateKeyA, (HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult),       \
           (hKey, lpSubKey, phkResult))                                        \
  FUNCTION(RegCreateKeyW, (HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult),      \
           (hKey, lpSubKey, phkResult))                                        \
  FUNCTION(RegEnumKeyA,                                                        \
           (HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName),            \
           (hKey, dwIndex, lpName, cchName))                                   \
  FUNCTION(RegEnumKeyW,                                                        \
           (HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName),           \
           (hKey, dwIndex, lpName, cchName))                                   \
  FUNCTION(RegQueryValueA,                                                     \
           (HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, PLONG lpcbData),         \
           (hKey, lpSubKey, lpData, lpcbData))                                 \
  FUNCTION(RegQueryValueW,                                                     \
           (HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData, PLONG lpcbData),       \
           (hKey, lpSubKey, lpData, lpcbData))                                 \
  FUNCTION(                                                                    \
      RegSetValueA,                                                            \
      (HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD cbData), \
      (hKey, lpSubKey, dwType, lpData, cbData))                                \
  FUNCTION(RegSetValueW,                                                       \
           (HKEY hKey, LPCWSTR lpSubKey, DWORD dwType, LPCWSTR lpData,         \
            DWORD cbData),                                                     \
           (hKey, lpSubKey, dwType, lpData, cbData))                           \
  /* Change notifications */                                                   \
  FUNCTION(RegNotifyChangeKeyValue,                                            \
           (HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, PVOID hEvent, \
            BOOL fAsynchronous),                                               \
           (hKey, bWatchSubtree, dwNotifyFilter, hEvent, fAsynchronous))

// Hive files: RegSaveKeyEx's formats and RegRestoreKey's flags.
inline constexpr DWORD REG_STANDARD_FORMAT = 1;
inline constexpr DWORD REG_LATEST_FORMAT = 2;
inline constexpr DWORD REG_NO_COMPRESSION = 4;
inline constexpr DWORD REG_WHOLE_HIVE_VOLATILE = 0x00000001;
inline constexpr DWORD REG_REFRESH_HIVE = 0x00000002;
inline constexpr DWORD REG_NO_LAZY_FLUSH = 0x00000004;
inline constexpr DWORD REG_FORCE_RESTORE = 0x00000008;

// Enables the backup and restore privileges in this process's token, as a
// tool that saves and loads hives does before it asks (Windows' reg does):
// 0, or 1314 when the process lacks them (the emulation's process, unless
// CORVANE_REGISTRY_READONLY=1, holds them; see the token calls below).
LONG EnableHivePrivileges();

// Expansions for the list: a declaration, and nothing.
#define CORVANE_REGISTRY_DECLARATION(name, parameters, arguments) \
  LONG name parameters;
#define CORVANE_REGISTRY_SKIPPED(name, parameters, arguments)

CORVANE_REGISTRY_FUNCTIONS(CORVANE_REGISTRY_DECLARATION,
                           CORVANE_REGISTRY_DECLARATION)

// KERNEL32. Each sets the calling thread's last-error value as Windows does.
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, char* lpBuffer, DWORD nSize,
                     va_list* Arguments);
DWORD FormatMessageW(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, wchar_t* lpBuffer, DWORD nSize,
                     va_list* Arguments);
DWORD GetVersion();
DWORD ExpandEnvironmentStringsA(const char* lpSrc, char* lpDst, DWORD nSize);
int lstrlenW(const wchar_t* lpString);
void RtlMoveMemory(void* Destination, const void* Source, std::size_t Length);
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// KERNEL32 and ADVAPI32 beyond the registry: the memory FormatMessage hands
// out, the process heap, and the process token, whose privileges registry
// code enables before saving or loading a hive.
using UINT = std::uint32_t;
using SIZE_T = std::size_t;
using DWORD_PTR = std::uintptr_t;
using HANDLE = void*;
using HLOCAL = void*;
using HGLOBAL = void*;

struct LUID {
  DWORD LowPart;
  LONG HighPart;
};
struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};
// Windows declares one entry and callers allocate room for PrivilegeCount.
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};

// FormatMessage flags beyond the source's, and LocalAlloc/GlobalAlloc/
// HeapAlloc flags.
inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
inline constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;
inline constexpr UINT LMEM_FIXED = 0x0000;
inline constexpr UINT LMEM_MOVEABLE = 0x0002;
inline constexpr UINT LMEM_ZEROINIT = 0x0040;
inline constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;
inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;
inline constexpr DWORD HEAP_NO_SERIALIZE = 0x00000001;
inline constexpr DWORD HEAP_GENERATE_EXCEPTIONS = 0x00000004;
inline constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;
inline constexpr DWORD HEAP_REALLOC_IN_PLACE_ONLY = 0x00000010;

// Token access rights and privilege attributes.
inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
inline constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x00000001;
inline constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
inline constexpr DWORD SE_PRIVILEGE_REMOVED = 0x00000004;

// Statuses of these calls, and of the registry's hive and tree calls.
inline constexpr LONG ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr LONG ERROR_WRITE_PROTECT = 19;
inline constexpr LONG ERROR_GEN_FAILURE = 31;
inline constexpr LONG ERROR_SHARING_VIOLATION = 32;
inline constexpr LONG ERROR_LOCK_VIOLATION = 33;
inline constexpr LONG ERROR_NOT_SUPPORTED = 50;
inline constexpr LONG ERROR_BAD_NETPATH = 53;
inline constexpr LONG ERROR_FILE_EXISTS = 80;
inline constexpr LONG ERROR_DISK_FULL = 112;
inline constexpr LONG ERROR_INVALID_NAME = 123;
inline constexpr LONG ERROR_BUSY = 170;
inline constexpr LONG ERROR_ALREADY_EXISTS = 183;
inline constexpr LONG ERROR_INVALID_FLAGS = 1004;
inline constexpr LONG ERROR_NO_TOKEN = 1008;
inline constexpr LONG ERROR_NOT_FOUND = 1168;
inline constexpr LONG ERROR_NOT_ALL_ASSIGNED = 1300;
inline constexpr LONG ERROR_NO_SUCH_PRIVILEGE = 1313;
inline constexpr LONG ERROR_PRIVILEGE_NOT_HELD = 1314;
inline constexpr LONG ERROR_LOGON_FAILURE = 1326;
inline constexpr LONG ERROR_NO_SYSTEM_RESOURCES = 1450;
inline constexpr LONG RPC_S_SERVER_UNAVAILABLE = 1722;
inline constexpr LONG ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr LONG ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

// Memory: LocalFree and GlobalFree answer NULL when they freed the block, the
// block itself (last error 6) when it is not one of theirs; HeapFree answers
// TRUE or FALSE. Only fixed blocks (LMEM_FIXED, GMEM_FIXED) are made.
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL LocalFree(HLOCAL hMem);
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
HGLOBAL GlobalFree(HGLOBAL hMem);
HANDLE GetProcessHeap();
void* HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
void* HeapReAlloc(HANDLE hHeap, DWORD dwFlags, void* lpMem, SIZE_T dwBytes);
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, void* lpMem);

// The process token. GetCurrentProcess is the pseudo-handle (HANDLE)-1, which
// CloseHandle accepts and ignores. Privilege names are Windows' ("SeBackup
// Privilege", ...), looked up case-insensitively on this machine (an empty or
// NULL system name). The emulation's process holds what an elevated
// administrator's holds, or a standard user's when CORVANE_REGISTRY_READONLY=1;
// AdjustTokenPrivileges answers TRUE and leaves ERROR_NOT_ALL_ASSIGNED for a
// privilege it does not hold, as Windows does.
HANDLE GetCurrentProcess();
BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                      HANDLE* TokenHandle);
BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, LUID* lpLuid);
BOOL LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, LUID* lpLuid);
BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           TOKEN_PRIVILEGES* NewState, DWORD BufferLength,
                           TOKEN_PRIVILEGES* PreviousState,
                           DWORD* ReturnLength);
BOOL CloseHandle(HANDLE hObject);

// Events, which change notifications signal. Named events are shared within
// the process in the emulation ("Local\" names the same object as no
// prefix, "Global\" a namespace of its own). A second create of a name
// answers its existing event with last error ERROR_ALREADY_EXISTS. Waits
// answer WAIT_OBJECT_0 + the index signalled, WAIT_TIMEOUT, or WAIT_FAILED
// with the last error: 6 for a handle that is not an open event, 5 for one
// opened without SYNCHRONIZE (SetEvent and ResetEvent need
// EVENT_MODIFY_STATE). The pseudo-handle of the process can be waited on
// and is never signalled.
inline constexpr DWORD SYNCHRONIZE = 0x00100000;
inline constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
inline constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003;
inline constexpr DWORD CREATE_EVENT_MANUAL_RESET = 0x00000001;
inline constexpr DWORD CREATE_EVENT_INITIAL_SET = 0x00000002;
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_ABANDONED_0 = 0x00000080;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;
HANDLE CreateEventA(SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset,
                    BOOL bInitialState, LPCSTR lpName);
HANDLE CreateEventW(SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset,
                    BOOL bInitialState, LPCWSTR lpName);
HANDLE CreateEventExA(SECURITY_ATTRIBUTES* lpEventAttributes, LPCSTR lpName,
                      DWORD dwFlags, DWORD dwDesiredAccess);
HANDLE CreateEventExW(SECURITY_ATTRIBUTES* lpEventAttributes, LPCWSTR lpName,
                      DWORD dwFlags, DWORD dwDesiredAccess);
HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds,
                            BOOL bAlertable);
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles,
                             BOOL bWaitAll, DWORD dwMilliseconds);
DWORD WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles,
                               BOOL bWaitAll, DWORD dwMilliseconds,
                               BOOL bAlertable);

// Text between UTF-16 and a code page: CP_ACP is the system's ANSI code
// page, Windows-1252 in the emulation. A character the code page cannot
// represent becomes "?" (no best-fit look-alike). Each answers 0, or the
// status of a conversion that failed with `out` emptied: 1113
// (ERROR_NO_UNICODE_TRANSLATION) for text the code page can't carry, such as
// an unpaired surrogate in UTF-8, or 87 for a code page the system lacks.
// The emulation knows only Windows-1252 (as CP_ACP or 1252), where every
// text converts.
LONG WideToAnsi(std::wstring_view text, std::string& out,
                DWORD codePage = CP_ACP);
LONG AnsiToWide(std::string_view text, std::wstring& out,
                DWORD codePage = CP_ACP);
// The same in CP_ACP, for text that is only shown: a text that fails to
// convert comes back with every character outside ASCII as "?", never empty
// or cut. Names handed to the registry take the forms above.
std::string WideToAnsi(std::wstring_view text);
std::wstring AnsiToWide(std::string_view text);

// Applies a regedit .reg file (REGEDIT4 or Version 5.00, as the .reg reader
// takes them) to the registry. The whole file is checked before anything is
// applied; the emulation then applies it in one transaction, Windows call by
// call. Returns "" or why not: "<fileName>:<line>: <what is wrong>" for a
// file that can't be parsed, or the key or value the registry refused and
// the system's reason. `view` (KEY_WOW64_32KEY or KEY_WOW64_64KEY) is the
// registry view the file's keys are written in; 0, the program's own.
std::string ImportRegFile(std::span<const std::uint8_t> bytes,
                          std::string_view fileName, REGSAM view = 0);

// Why the registry cannot be used, as "<file>:<line>: <what is wrong>" (or
// "<file>: <system reason>"); empty when it can. On Windows always empty. In
// the emulation every registry call answers ERROR_BADDB while this is set.
std::string RegistryLoadError();
// Why this process may read the registry but not write it, as "<file>:
// <system reason>" (a store another user owns, a read-only file system);
// RegistryLoadError() when it can't be used at all; empty when it can be
// written. In the emulation, writes then answer ERROR_ACCESS_DENIED. On
// Windows always empty.
std::string RegistryWriteError();

// For a program in which SQLite serves the emulated registry alone: turns
// off SQLite's memory statistics, a lock around each of its allocations that
// costs a bulk import a tenth of its time (and with them its heap limits and
// sqlite3_memory_used). Call before the first registry call; once SQLite is
// in use it changes nothing. Nothing to do on Windows.
void DisableSqliteMemoryStatistics();

}  // namespace corvane::platform
