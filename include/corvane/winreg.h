/* The Windows registry API as ordinary Windows code sees it, answered on
 * Linux by Corvane's emulated registry: the types, constants and functions
 * of <windows.h> that registry code uses, in C and C++ alike. Link the
 * corvane::winreg target; put corvane/shim on the include path (the target
 * does) for code that says #include <windows.h>.
 *
 * Widths are Windows': LONG and LSTATUS are 32 bits, DWORD is 32 bits
 * unsigned, HKEY is a pointer-sized handle whose predefined values are
 * sign-extended 32-bit numbers, exactly as <windows.h> has them. WCHAR is the
 * compiler's wchar_t, so L"..." literals work unchanged; on Linux that is
 * 4 bytes, and sizes of wide string data count sizeof(WCHAR) bytes a
 * character while the registry stores the text as UTF-16.
 *
 * This header stands alone: it never includes Corvane's own platform header,
 * so Windows' names stay out of the object model and the model's out of here.
 */
#ifndef CORVANE_WINREG_H
#define CORVANE_WINREG_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

/* Pointer width as Windows code tests it: _WIN64 on a 64-bit target, where
 * pointers, HKEY and the *_PTR types are 64 bits. _WIN32 is left undefined:
 * code takes it to mean that Windows' own headers (<io.h>, <process.h>...)
 * are there, and they are not. */
#if (defined(__LP64__) || defined(_LP64)) && !defined(_WIN64)
#define _WIN64 1
#endif

/* The source annotations Windows' prototypes carry, for code that writes
 * them on its own declarations: they mean nothing to the compiler here. */
#ifndef _In_
#define _In_
#endif
#ifndef _In_opt_
#define _In_opt_
#endif
#ifndef _In_z_
#define _In_z_
#endif
#ifndef _In_opt_z_
#define _In_opt_z_
#endif
#ifndef _Out_
#define _Out_
#endif
#ifndef _Out_opt_
#define _Out_opt_
#endif
#ifndef _Inout_
#define _Inout_
#endif
#ifndef _Inout_opt_
#define _Inout_opt_
#endif
#ifndef _Reserved_
#define _Reserved_
#endif
#ifndef _Outptr_
#define _Outptr_
#endif
#ifndef _Outptr_opt_
#define _Outptr_opt_
#endif
#ifndef _Frees_ptr_opt_
#define _Frees_ptr_opt_
#endif
#ifndef _Ret_maybenull_
#define _Ret_maybenull_
#endif
#ifndef _Check_return_
#define _Check_return_
#endif
#ifndef _Must_inspect_result_
#define _Must_inspect_result_
#endif
#ifndef _Success_
#define _Success_(expression)
#endif
#ifndef _When_
#define _When_(expression, annotation)
#endif
#ifndef _In_reads_
#define _In_reads_(size)
#endif
#ifndef _In_reads_opt_
#define _In_reads_opt_(size)
#endif
#ifndef _In_reads_bytes_
#define _In_reads_bytes_(size)
#endif
#ifndef _In_reads_bytes_opt_
#define _In_reads_bytes_opt_(size)
#endif
#ifndef _Out_writes_
#define _Out_writes_(size)
#endif
#ifndef _Out_writes_opt_
#define _Out_writes_opt_(size)
#endif
#ifndef _Out_writes_z_
#define _Out_writes_z_(size)
#endif
#ifndef _Out_writes_opt_z_
#define _Out_writes_opt_z_(size)
#endif
#ifndef _Out_writes_to_opt_
#define _Out_writes_to_opt_(size, count)
#endif
#ifndef _Out_writes_bytes_
#define _Out_writes_bytes_(size)
#endif
#ifndef _Out_writes_bytes_opt_
#define _Out_writes_bytes_opt_(size)
#endif
#ifndef _Out_writes_bytes_to_opt_
#define _Out_writes_bytes_to_opt_(size, count)
#endif
#ifndef _Inout_updates_
#define _Inout_updates_(size)
#endif
#ifndef _Inout_updates_opt_
#define _Inout_updates_opt_(size)
#endif
#ifndef _Inout_updates_bytes_opt_
#define _Inout_updates_bytes_opt_(size)
#endif
#ifndef _Post_writable_byte_size_
#define _Post_writable_byte_size_(size)
#endif
#ifndef _Field_size_
#define _Field_size_(size)
#endif
#ifndef _Field_size_bytes_
#define _Field_size_bytes_(size)
#endif
#ifndef _Printf_format_string_
#define _Printf_format_string_
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Base types ---------------------------------------------------------*/

#define VOID void
#define WINAPI
#define APIENTRY
#define CALLBACK

typedef char CHAR;
typedef wchar_t WCHAR;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef BYTE BOOLEAN;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t DWORDLONG;
typedef uint64_t DWORD64;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef LONG LSTATUS;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;

typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef LONG* LPLONG;
typedef BOOL* PBOOL;
typedef BOOL* LPBOOL;

typedef CHAR* PSTR;
typedef CHAR* LPSTR;
typedef const CHAR* PCSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* PWSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* PCWSTR;
typedef const WCHAR* LPCWSTR;

#ifdef UNICODE
typedef WCHAR TCHAR;
#define __TEXT(quote) L##quote
#else
typedef CHAR TCHAR;
#define __TEXT(quote) quote
#endif
#define TEXT(quote) __TEXT(quote)
/* The unsuffixed name of a function with A and W forms names the form
 * UNICODE chooses: #define RegOpenKeyEx CORVANE_TEXT_FORM(RegOpenKeyEx). */
#ifdef UNICODE
#define CORVANE_TEXT_FORM(name) name##W
#else
#define CORVANE_TEXT_FORM(name) name##A
#endif
typedef TCHAR* PTSTR;
typedef TCHAR* LPTSTR;
typedef const TCHAR* PCTSTR;
typedef const TCHAR* LPCTSTR;

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif
#define MAX_PATH 260
#define ARRAYSIZE(a) (sizeof(a) / sizeof((a)[0]))

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

/* Accepted for its shape only: the emulated registry keeps no security
 * descriptors, so lpSecurityDescriptor is ignored. */
typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef HANDLE* PHANDLE;
typedef HANDLE HLOCAL;
typedef HANDLE HGLOBAL;
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define ANYSIZE_ARRAY 1

/* Privileges of the process token. */
typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;
typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES, *PLUID_AND_ATTRIBUTES;
typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[ANYSIZE_ARRAY];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

/* ---- Keys ---------------------------------------------------------------*/

struct HKEY__ {
  int unused;
};
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))
#define HKEY_PERFORMANCE_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000004))
#define HKEY_CURRENT_CONFIG ((HKEY)(ULONG_PTR)((LONG)0x80000005))
#define HKEY_DYN_DATA ((HKEY)(ULONG_PTR)((LONG)0x80000006))
#define HKEY_CURRENT_USER_LOCAL_SETTINGS ((HKEY)(ULONG_PTR)((LONG)0x80000007))
#define HKEY_PERFORMANCE_TEXT ((HKEY)(ULONG_PTR)((LONG)0x80000050))
#define HKEY_PERFORMANCE_NLSTEXT ((HKEY)(ULONG_PTR)((LONG)0x80000060))

/* Access rights. */
#define DELETE 0x00010000
#define READ_CONTROL 0x00020000
#define WRITE_DAC 0x00040000
#define WRITE_OWNER 0x00080000
#define SYNCHRONIZE 0x00100000
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_EXECUTE READ_CONTROL
#define STANDARD_RIGHTS_REQUIRED 0x000F0000
#define STANDARD_RIGHTS_ALL 0x001F0000
#define MAXIMUM_ALLOWED 0x02000000
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE 0x20019
#define KEY_ALL_ACCESS 0xF003F

/* RegCreateKeyEx options and dispositions. */
#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

/* RegNotifyChangeKeyValue filters. */
#define REG_NOTIFY_CHANGE_NAME 0x00000001
#define REG_NOTIFY_CHANGE_ATTRIBUTES 0x00000002
#define REG_NOTIFY_CHANGE_LAST_SET 0x00000004
#define REG_NOTIFY_CHANGE_SECURITY 0x00000008
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000

/* Value types. */
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_RESOURCE_LIST 8
#define REG_FULL_RESOURCE_DESCRIPTOR 9
#define REG_RESOURCE_REQUIREMENTS_LIST 10
#define REG_QWORD 11
#define REG_QWORD_LITTLE_ENDIAN 11

/* RegGetValue: the types wanted, and how. */
#define RRF_RT_REG_NONE 0x00000001
#define RRF_RT_REG_SZ 0x00000002
#define RRF_RT_REG_EXPAND_SZ 0x00000004
#define RRF_RT_REG_BINARY 0x00000008
#define RRF_RT_REG_DWORD 0x00000010
#define RRF_RT_REG_MULTI_SZ 0x00000020
#define RRF_RT_REG_QWORD 0x00000040
#define RRF_RT_DWORD (RRF_RT_REG_BINARY | RRF_RT_REG_DWORD)
#define RRF_RT_QWORD (RRF_RT_REG_BINARY | RRF_RT_REG_QWORD)
#define RRF_RT_ANY 0x0000FFFF
#define RRF_NOEXPAND 0x10000000
#define RRF_ZEROONFAILURE 0x20000000
#define RRF_SUBKEY_WOW6464KEY 0x00010000
#define RRF_SUBKEY_WOW6432KEY 0x00020000

/* ---- Statuses -----------------------------------------------------------*/

#define ERROR_SUCCESS 0
#define NO_ERROR 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DATA 13
#define ERROR_OUTOFMEMORY 14
#define ERROR_INVALID_PARAMETER 87
#define ERROR_CALL_NOT_IMPLEMENTED 120
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_BAD_PATHNAME 161
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_MORE_DATA 234
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_MR_MID_NOT_FOUND 317
#define ERROR_BADDB 1009
#define ERROR_BADKEY 1010
#define ERROR_CANTOPEN 1011
#define ERROR_CANTREAD 1012
#define ERROR_CANTWRITE 1013
#define ERROR_REGISTRY_RECOVERED 1014
#define ERROR_REGISTRY_CORRUPT 1015
#define ERROR_REGISTRY_IO_FAILED 1016
#define ERROR_NOT_REGISTRY_FILE 1017
#define ERROR_KEY_DELETED 1018
#define ERROR_NO_LOG_SPACE 1019
#define ERROR_KEY_HAS_CHILDREN 1020
#define ERROR_CHILD_MUST_BE_VOLATILE 1021
#define ERROR_NO_UNICODE_TRANSLATION 1113
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815
#define ERROR_UNSUPPORTED_TYPE 1630
/* Statuses of the memory, message and token calls, and of the registry's
 * hive and tree calls. */
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_WRITE_PROTECT 19
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_LOCK_VIOLATION 33
#define ERROR_NOT_SUPPORTED 50
#define ERROR_BAD_NETPATH 53
#define ERROR_FILE_EXISTS 80
#define ERROR_DISK_FULL 112
#define ERROR_INVALID_NAME 123
#define ERROR_BUSY 170
#define ERROR_ALREADY_EXISTS 183
#define ERROR_NOACCESS 998
#define ERROR_INVALID_FLAGS 1004
#define ERROR_NO_TOKEN 1008
#define ERROR_NOT_FOUND 1168
#define ERROR_NOT_ALL_ASSIGNED 1300
#define ERROR_NO_SUCH_PRIVILEGE 1313
#define ERROR_PRIVILEGE_NOT_HELD 1314
#define ERROR_LOGON_FAILURE 1326
#define ERROR_NO_SYSTEM_RESOURCES 1450
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813
#define RPC_S_SERVER_UNAVAILABLE 1722

/* FormatMessage: system texts (Windows' English ones) or the caller's string,
 * with inserts from a va_list or an array, into the caller's buffer or one
 * LocalAlloc makes (free it with LocalFree). A module's own message table is
 * not searched: FROM_HMODULE alone fails with 1813. */
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
#define LANG_NEUTRAL 0x00
#define LANG_INVARIANT 0x7f
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define SUBLANG_ENGLISH_US 0x01
#define SUBLANG_ENGLISH_UK 0x02
#define MAKELANGID(primary, sub) \
  ((WORD)((((WORD)(sub)) << 10) | (WORD)(primary)))
#define PRIMARYLANGID(lgid) ((WORD)(lgid)&0x3ff)
#define SUBLANGID(lgid) ((WORD)(lgid) >> 10)
#define LANG_SYSTEM_DEFAULT MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT)
#define LANG_USER_DEFAULT MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)

/* LocalAlloc, GlobalAlloc and the heap: fixed blocks only (LMEM_MOVEABLE
 * and GMEM_MOVEABLE fail with 87). */
#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_GENERATE_EXCEPTIONS 0x00000004
#define HEAP_ZERO_MEMORY 0x00000008
#define HEAP_REALLOC_IN_PLACE_ONLY 0x00000010

/* The process token. */
#define TOKEN_ASSIGN_PRIMARY 0x0001
#define TOKEN_DUPLICATE 0x0002
#define TOKEN_IMPERSONATE 0x0004
#define TOKEN_QUERY 0x0008
#define TOKEN_QUERY_SOURCE 0x0010
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define TOKEN_ADJUST_GROUPS 0x0040
#define TOKEN_ADJUST_DEFAULT 0x0080
#define TOKEN_ADJUST_SESSIONID 0x0100
#define TOKEN_READ (STANDARD_RIGHTS_READ | TOKEN_QUERY)
#define TOKEN_WRITE                                                        \
  (STANDARD_RIGHTS_WRITE | TOKEN_ADJUST_PRIVILEGES | TOKEN_ADJUST_GROUPS | \
   TOKEN_ADJUST_DEFAULT)
#define TOKEN_ALL_ACCESS 0x000F01FF
#define SE_PRIVILEGE_ENABLED_BY_DEFAULT 0x00000001
#define SE_PRIVILEGE_ENABLED 0x00000002
#define SE_PRIVILEGE_REMOVED 0x00000004
#define SE_PRIVILEGE_USED_FOR_ACCESS 0x80000000
#define SE_CREATE_TOKEN_NAME TEXT("SeCreateTokenPrivilege")
#define SE_ASSIGNPRIMARYTOKEN_NAME TEXT("SeAssignPrimaryTokenPrivilege")
#define SE_LOCK_MEMORY_NAME TEXT("SeLockMemoryPrivilege")
#define SE_INCREASE_QUOTA_NAME TEXT("SeIncreaseQuotaPrivilege")
#define SE_MACHINE_ACCOUNT_NAME TEXT("SeMachineAccountPrivilege")
#define SE_TCB_NAME TEXT("SeTcbPrivilege")
#define SE_SECURITY_NAME TEXT("SeSecurityPrivilege")
#define SE_TAKE_OWNERSHIP_NAME TEXT("SeTakeOwnershipPrivilege")
#define SE_LOAD_DRIVER_NAME TEXT("SeLoadDriverPrivilege")
#define SE_SYSTEM_PROFILE_NAME TEXT("SeSystemProfilePrivilege")
#define SE_SYSTEMTIME_NAME TEXT("SeSystemtimePrivilege")
#define SE_PROF_SINGLE_PROCESS_NAME TEXT("SeProfileSingleProcessPrivilege")
#define SE_INC_BASE_PRIORITY_NAME TEXT("SeIncreaseBasePriorityPrivilege")
#define SE_CREATE_PAGEFILE_NAME TEXT("SeCreatePagefilePrivilege")
#define SE_CREATE_PERMANENT_NAME TEXT("SeCreatePermanentPrivilege")
#define SE_BACKUP_NAME TEXT("SeBackupPrivilege")
#define SE_RESTORE_NAME TEXT("SeRestorePrivilege")
#define SE_SHUTDOWN_NAME TEXT("SeShutdownPrivilege")
#define SE_DEBUG_NAME TEXT("SeDebugPrivilege")
#define SE_AUDIT_NAME TEXT("SeAuditPrivilege")
#define SE_SYSTEM_ENVIRONMENT_NAME TEXT("SeSystemEnvironmentPrivilege")
#define SE_CHANGE_NOTIFY_NAME TEXT("SeChangeNotifyPrivilege")
#define SE_REMOTE_SHUTDOWN_NAME TEXT("SeRemoteShutdownPrivilege")
#define SE_UNDOCK_NAME TEXT("SeUndockPrivilege")
#define SE_SYNC_AGENT_NAME TEXT("SeSyncAgentPrivilege")
#define SE_ENABLE_DELEGATION_NAME TEXT("SeEnableDelegationPrivilege")
#define SE_MANAGE_VOLUME_NAME TEXT("SeManageVolumePrivilege")
#define SE_IMPERSONATE_NAME TEXT("SeImpersonatePrivilege")
#define SE_CREATE_GLOBAL_NAME TEXT("SeCreateGlobalPrivilege")
#define SE_TRUSTED_CREDMAN_ACCESS_NAME TEXT("SeTrustedCredManAccessPrivilege")
#define SE_RELABEL_NAME TEXT("SeRelabelPrivilege")
#define SE_INC_WORKING_SET_NAME TEXT("SeIncreaseWorkingSetPrivilege")
#define SE_TIME_ZONE_NAME TEXT("SeTimeZonePrivilege")
#define SE_CREATE_SYMBOLIC_LINK_NAME TEXT("SeCreateSymbolicLinkPrivilege")
#define SE_DELEGATE_SESSION_USER_IMPERSONATE_NAME \
  TEXT("SeDelegateSessionUserImpersonatePrivilege")

/* ---- Functions ----------------------------------------------------------*/

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                             REGSAM samDesired, PHKEY phkResult);
LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions,
                             REGSAM samDesired, PHKEY phkResult);
#define RegOpenKeyEx CORVANE_TEXT_FORM(RegOpenKeyEx)
LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved,
                               LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired,
                               const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition);
LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved,
                               LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired,
                               const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition);
#define RegCreateKeyEx CORVANE_TEXT_FORM(RegCreateKeyEx)
LSTATUS WINAPI RegCloseKey(HKEY hKey);
LSTATUS WINAPI RegFlushKey(HKEY hKey);
LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName,
                                LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData);
LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName,
                                LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData);
#define RegQueryValueEx CORVANE_TEXT_FORM(RegQueryValueEx)
LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved,
                              DWORD dwType, const BYTE* lpData, DWORD cbData);
LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved,
                              DWORD dwType, const BYTE* lpData, DWORD cbData);
#define RegSetValueEx CORVANE_TEXT_FORM(RegSetValueEx)
LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                             LPDWORD lpcchValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                             LPDWORD lpcchValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
#define RegEnumValue CORVANE_TEXT_FORM(RegEnumValue)
LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName,
                             LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime);
LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName,
                             LPDWORD lpcchName, LPDWORD lpReserved,
                             LPWSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime);
#define RegEnumKeyEx CORVANE_TEXT_FORM(RegEnumKeyEx)
LSTATUS WINAPI RegQueryInfoKeyA(
    HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
    LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
    LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);
LSTATUS WINAPI RegQueryInfoKeyW(
    HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
    LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
    LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);
#define RegQueryInfoKey CORVANE_TEXT_FORM(RegQueryInfoKey)
LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
#define RegDeleteKey CORVANE_TEXT_FORM(RegDeleteKey)
LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
#define RegDeleteValue CORVANE_TEXT_FORM(RegDeleteValue)
LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);
#define RegDeleteTree CORVANE_TEXT_FORM(RegDeleteTree)
LSTATUS WINAPI RegGetValueA(HKEY hkey, LPCSTR lpSubKey, LPCSTR lpValue,
                            DWORD dwFlags, LPDWORD pdwType, PVOID pvData,
                            LPDWORD pcbData);
LSTATUS WINAPI RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue,
                            DWORD dwFlags, LPDWORD pdwType, PVOID pvData,
                            LPDWORD pcbData);
#define RegGetValue CORVANE_TEXT_FORM(RegGetValue)
/* Hive files. In the emulation a hive file is a registry store file of
 * its own (SQLite), not Windows' format; the privileges they need are held
 * unless CORVANE_REGISTRY_READONLY=1 (then 1314). */
#define REG_STANDARD_FORMAT 1
#define REG_LATEST_FORMAT 2
#define REG_NO_COMPRESSION 4
#define REG_WHOLE_HIVE_VOLATILE 0x00000001L
#define REG_REFRESH_HIVE 0x00000002L
#define REG_NO_LAZY_FLUSH 0x00000004L
#define REG_FORCE_RESTORE 0x00000008L
LSTATUS WINAPI RegSaveKeyA(HKEY hKey, LPCSTR lpFile,
                           const SECURITY_ATTRIBUTES* lpSecurityAttributes);
LSTATUS WINAPI RegSaveKeyW(HKEY hKey, LPCWSTR lpFile,
                           const SECURITY_ATTRIBUTES* lpSecurityAttributes);
#define RegSaveKey CORVANE_TEXT_FORM(RegSaveKey)
LSTATUS WINAPI RegSaveKeyExA(HKEY hKey, LPCSTR lpFile,
                             const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                             DWORD Flags);
LSTATUS WINAPI RegSaveKeyExW(HKEY hKey, LPCWSTR lpFile,
                             const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                             DWORD Flags);
#define RegSaveKeyEx CORVANE_TEXT_FORM(RegSaveKeyEx)
LSTATUS WINAPI RegLoadKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpFile);
LSTATUS WINAPI RegLoadKeyW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpFile);
#define RegLoadKey CORVANE_TEXT_FORM(RegLoadKey)
LSTATUS WINAPI RegUnLoadKeyA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS WINAPI RegUnLoadKeyW(HKEY hKey, LPCWSTR lpSubKey);
#define RegUnLoadKey CORVANE_TEXT_FORM(RegUnLoadKey)
LSTATUS WINAPI RegRestoreKeyA(HKEY hKey, LPCSTR lpFile, DWORD dwFlags);
LSTATUS WINAPI RegRestoreKeyW(HKEY hKey, LPCWSTR lpFile, DWORD dwFlags);
#define RegRestoreKey CORVANE_TEXT_FORM(RegRestoreKey)
LSTATUS WINAPI RegReplaceKeyA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpNewFile,
                              LPCSTR lpOldFile);
LSTATUS WINAPI RegReplaceKeyW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpNewFile,
                              LPCWSTR lpOldFile);
#define RegReplaceKey CORVANE_TEXT_FORM(RegReplaceKey)

/* Predefined keys and reflection. There is no remote registry: connecting
 * to any machine but this one answers ERROR_BAD_NETPATH. */
LSTATUS WINAPI RegOverridePredefKey(HKEY hKey, HKEY hNewHKey);
LSTATUS WINAPI RegOpenCurrentUser(REGSAM samDesired, PHKEY phkResult);
LSTATUS WINAPI RegDisablePredefinedCache(void);
LSTATUS WINAPI RegDisablePredefinedCacheEx(void);
LSTATUS WINAPI RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey,
                                   PHKEY phkResult);
LSTATUS WINAPI RegConnectRegistryW(LPCWSTR lpMachineName, HKEY hKey,
                                   PHKEY phkResult);
#define RegConnectRegistry CORVANE_TEXT_FORM(RegConnectRegistry)
LONG WINAPI RegDisableReflectionKey(HKEY hBase);
LONG WINAPI RegEnableReflectionKey(HKEY hBase);
LONG WINAPI RegQueryReflectionKey(HKEY hBase, BOOL* bIsReflectionDisabled);

/* Trees, values by subkey, and the older forms over the Ex functions. */
typedef struct value_entA {
  LPSTR ve_valuename;
  DWORD ve_valuelen;
  DWORD_PTR ve_valueptr;
  DWORD ve_type;
} VALENTA, *PVALENTA;
typedef struct value_entW {
  LPWSTR ve_valuename;
  DWORD ve_valuelen;
  DWORD_PTR ve_valueptr;
  DWORD ve_type;
} VALENTW, *PVALENTW;
/* What RegQueryMultipleValues answers for more than a megabyte of list and
 * data, by the name its documentation gives; the number is 222. */
#define ERROR_TRANSFER_TOO_LONG 222
#ifdef UNICODE
typedef VALENTW VALENT;
typedef PVALENTW PVALENT;
#else
typedef VALENTA VALENT;
typedef PVALENTA PVALENT;
#endif
LSTATUS WINAPI RegCopyTreeA(HKEY hKeySrc, LPCSTR lpSubKey, HKEY hKeyDest);
LSTATUS WINAPI RegCopyTreeW(HKEY hKeySrc, LPCWSTR lpSubKey, HKEY hKeyDest);
#define RegCopyTree CORVANE_TEXT_FORM(RegCopyTree)
LSTATUS WINAPI RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired,
                               DWORD Reserved);
LSTATUS WINAPI RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired,
                               DWORD Reserved);
#define RegDeleteKeyEx CORVANE_TEXT_FORM(RegDeleteKeyEx)
LSTATUS WINAPI RegSetKeyValueA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName,
                               DWORD dwType, LPCVOID lpData, DWORD cbData);
LSTATUS WINAPI RegSetKeyValueW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName,
                               DWORD dwType, LPCVOID lpData, DWORD cbData);
#define RegSetKeyValue CORVANE_TEXT_FORM(RegSetKeyValue)
LSTATUS WINAPI RegDeleteKeyValueA(HKEY hKey, LPCSTR lpSubKey,
                                  LPCSTR lpValueName);
LSTATUS WINAPI RegDeleteKeyValueW(HKEY hKey, LPCWSTR lpSubKey,
                                  LPCWSTR lpValueName);
#define RegDeleteKeyValue CORVANE_TEXT_FORM(RegDeleteKeyValue)
LSTATUS WINAPI RegRenameKey(HKEY hKey, LPCWSTR lpSubKeyName,
                            LPCWSTR lpNewKeyName);
LSTATUS WINAPI RegQueryMultipleValuesA(HKEY hKey, PVALENTA val_list,
                                       DWORD num_vals, LPSTR lpValueBuf,
                                       LPDWORD ldwTotsize);
LSTATUS WINAPI RegQueryMultipleValuesW(HKEY hKey, PVALENTW val_list,
                                       DWORD num_vals, LPWSTR lpValueBuf,
                                       LPDWORD ldwTotsize);
#define RegQueryMultipleValues CORVANE_TEXT_FORM(RegQueryMultipleValues)
LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
LSTATUS WINAPI RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult);
#define RegOpenKey CORVANE_TEXT_FORM(RegOpenKey)
LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
LSTATUS WINAPI RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult);
#define RegCreateKey CORVANE_TEXT_FORM(RegCreateKey)
LSTATUS WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName,
                           DWORD cchName);
LSTATUS WINAPI RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName,
                           DWORD cchName);
#define RegEnumKey CORVANE_TEXT_FORM(RegEnumKey)
LSTATUS WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData,
                              PLONG lpcbData);
LSTATUS WINAPI RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData,
                              PLONG lpcbData);
#define RegQueryValue CORVANE_TEXT_FORM(RegQueryValue)
LSTATUS WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType,
                            LPCSTR lpData, DWORD cbData);
LSTATUS WINAPI RegSetValueW(HKEY hKey, LPCWSTR lpSubKey, DWORD dwType,
                            LPCWSTR lpData, DWORD cbData);
#define RegSetValue CORVANE_TEXT_FORM(RegSetValue)
LSTATUS WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree,
                                       DWORD dwNotifyFilter, HANDLE hEvent,
                                       BOOL fAsynchronous);

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                            DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                            va_list* Arguments);
DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                            DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                            va_list* Arguments);
#define FormatMessage CORVANE_TEXT_FORM(FormatMessage)
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

/* Memory: LocalFree and GlobalFree return NULL once they freed the block,
 * and the block (last error 6) when it is not a live one of theirs. */
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL WINAPI LocalFree(HLOCAL hMem);
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);
HANDLE WINAPI GetProcessHeap(void);
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem,
                          SIZE_T dwBytes);
BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);

/* The process token. The process holds an elevated administrator's
 * privileges, or a standard user's when CORVANE_REGISTRY_READONLY=1: then
 * AdjustTokenPrivileges enabling SE_BACKUP_NAME answers TRUE with last error
 * ERROR_NOT_ALL_ASSIGNED, as Windows does for a process without it. */
HANDLE WINAPI GetCurrentProcess(void);
BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                             PHANDLE TokenHandle);
BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName,
                                  PLUID lpLuid);
BOOL WINAPI LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName,
                                  PLUID lpLuid);
#define LookupPrivilegeValue CORVANE_TEXT_FORM(LookupPrivilegeValue)
BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                  PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength,
                                  PTOKEN_PRIVILEGES PreviousState,
                                  PDWORD ReturnLength);
BOOL WINAPI CloseHandle(HANDLE hObject);

/* Events and the waits on them, which RegNotifyChangeKeyValue signals. Named
 * events are shared within the process ("Local\" names the same object as
 * no prefix, "Global\" a namespace of its own), not between processes. */
#define EVENT_QUERY_STATE 0x0001
#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x3)
#define CREATE_EVENT_MANUAL_RESET 0x00000001
#define CREATE_EVENT_INITIAL_SET 0x00000002
#define STATUS_WAIT_0 ((DWORD)0x00000000)
#define STATUS_ABANDONED_WAIT_0 ((DWORD)0x00000080)
#define STATUS_TIMEOUT ((DWORD)0x00000102)
#define WAIT_OBJECT_0 ((STATUS_WAIT_0) + 0)
#define WAIT_ABANDONED ((STATUS_ABANDONED_WAIT_0) + 0)
#define WAIT_ABANDONED_0 ((STATUS_ABANDONED_WAIT_0) + 0)
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define WAIT_IO_COMPLETION ((DWORD)0x000000C0)
#define INFINITE 0xFFFFFFFF
#define MAXIMUM_WAIT_OBJECTS 64
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes,
                           BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName);
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes,
                           BOOL bManualReset, BOOL bInitialState,
                           LPCWSTR lpName);
#define CreateEvent CORVANE_TEXT_FORM(CreateEvent)
HANDLE WINAPI CreateEventExA(LPSECURITY_ATTRIBUTES lpEventAttributes,
                             LPCSTR lpName, DWORD dwFlags,
                             DWORD dwDesiredAccess);
HANDLE WINAPI CreateEventExW(LPSECURITY_ATTRIBUTES lpEventAttributes,
                             LPCWSTR lpName, DWORD dwFlags,
                             DWORD dwDesiredAccess);
#define CreateEventEx CORVANE_TEXT_FORM(CreateEventEx)
HANDLE WINAPI OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle,
                         LPCSTR lpName);
HANDLE WINAPI OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle,
                         LPCWSTR lpName);
#define OpenEvent CORVANE_TEXT_FORM(OpenEvent)
BOOL WINAPI SetEvent(HANDLE hEvent);
BOOL WINAPI ResetEvent(HANDLE hEvent);
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WINAPI WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds,
                                   BOOL bAlertable);
DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles,
                                    BOOL bWaitAll, DWORD dwMilliseconds);
DWORD WINAPI WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles,
                                      BOOL bWaitAll, DWORD dwMilliseconds,
                                      BOOL bAlertable);

/* ---- Corvane's own, not Windows' ----------------------------------------*/

/* Applies a regedit .reg file (REGEDIT4 or Version 5.00) to the registry,
 * for seeding a test in one call. The whole file is checked before anything
 * changes. Returns ERROR_SUCCESS; ERROR_FILE_NOT_FOUND or
 * ERROR_ACCESS_DENIED when the file can't be read; ERROR_BADDB when the
 * store can't be used; ERROR_INVALID_DATA when the file can't be parsed or
 * the registry refused a key or value in it. */
LSTATUS CorvaneImportRegFile(const char* path);
/* Why the calling thread's last CorvaneImportRegFile failed ("<file>:<line>:
 * <what is wrong>", or the key refused and the reason); "" after a success.
 * Valid until that thread's next import. */
const char* CorvaneImportRegFileError(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* CORVANE_WINREG_H */
