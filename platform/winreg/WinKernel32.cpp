// The KERNEL32 and ADVAPI32 functions of corvane/winreg.h beyond the
// registry and FormatMessage, on the emulation: memory (LocalAlloc and
// friends, which FormatMessage's allocated buffers come from), the process
// token, and events with the waits on them. Each forwards to the platform
// layer's function of the same name.
//
// Platform.h comes first, as in WinReg.cpp: corvane/winreg.h's macros would
// otherwise rewrite its names.
#include "platform/Platform.h"
// clang-format off
#include "corvane/winreg.h"
// clang-format on

namespace p = corvane::platform;

// The structures are Windows' in both headers; they pass by a cast.
static_assert(sizeof(LUID) == sizeof(p::LUID));
static_assert(sizeof(TOKEN_PRIVILEGES) == sizeof(p::TOKEN_PRIVILEGES));
static_assert(offsetof(TOKEN_PRIVILEGES, Privileges) ==
              offsetof(p::TOKEN_PRIVILEGES, Privileges));

extern "C" {

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  return p::LocalAlloc(uFlags, uBytes);
}

HLOCAL LocalFree(HLOCAL hMem) { return p::LocalFree(hMem); }

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  return p::GlobalAlloc(uFlags, dwBytes);
}

HGLOBAL GlobalFree(HGLOBAL hMem) { return p::GlobalFree(hMem); }

HANDLE GetProcessHeap(void) { return p::GetProcessHeap(); }

LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  return p::HeapAlloc(hHeap, dwFlags, dwBytes);
}

LPVOID HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes) {
  return p::HeapReAlloc(hHeap, dwFlags, lpMem, dwBytes);
}

BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  return p::HeapFree(hHeap, dwFlags, lpMem);
}

HANDLE GetCurrentProcess(void) { return p::GetCurrentProcess(); }

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                      PHANDLE TokenHandle) {
  return p::OpenProcessToken(ProcessHandle, DesiredAccess, TokenHandle);
}

BOOL LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  return p::LookupPrivilegeValueA(lpSystemName, lpName,
                                  reinterpret_cast<p::LUID*>(lpLuid));
}

BOOL LookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid) {
  return p::LookupPrivilegeValueW(lpSystemName, lpName,
                                  reinterpret_cast<p::LUID*>(lpLuid));
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                           PTOKEN_PRIVILEGES PreviousState,
                           PDWORD ReturnLength) {
  return p::AdjustTokenPrivileges(
      TokenHandle, DisableAllPrivileges,
      reinterpret_cast<p::TOKEN_PRIVILEGES*>(NewState), BufferLength,
      reinterpret_cast<p::TOKEN_PRIVILEGES*>(PreviousState), ReturnLength);
}

BOOL CloseHandle(HANDLE hObject) { return p::CloseHandle(hObject); }

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                    BOOL bInitialState, LPCSTR lpName) {
  return p::CreateEventA(
      reinterpret_cast<p::SECURITY_ATTRIBUTES*>(lpEventAttributes),
      bManualReset, bInitialState, lpName);
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                    BOOL bInitialState, LPCWSTR lpName) {
  return p::CreateEventW(
      reinterpret_cast<p::SECURITY_ATTRIBUTES*>(lpEventAttributes),
      bManualReset, bInitialState, lpName);
}

HANDLE CreateEventExA(LPSECURITY_ATTRIBUTES lpEventAttributes, LPCSTR lpName,
                      DWORD dwFlags, DWORD dwDesiredAccess) {
  return p::CreateEventExA(
      reinterpret_cast<p::SECURITY_ATTRIBUTES*>(lpEventAttributes), lpName,
      dwFlags, dwDesiredAccess);
}

HANDLE CreateEventExW(LPSECURITY_ATTRIBUTES lpEventAttributes, LPCWSTR lpName,
                      DWORD dwFlags, DWORD dwDesiredAccess) {
  return p::CreateEventExW(
      reinterpret_cast<p::SECURITY_ATTRIBUTES*>(lpEventAttributes), lpName,
      dwFlags, dwDesiredAccess);
}

HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  return p::OpenEventA(dwDesiredAccess, bInheritHandle, lpName);
}

HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  return p::OpenEventW(dwDesiredAccess, bInheritHandle, lpName);
}

BOOL SetEvent(HANDLE hEvent) { return p::SetEvent(hEvent); }

BOOL ResetEvent(HANDLE hEvent) { return p::ResetEvent(hEvent); }

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return p::WaitForSingleObject(hHandle, dwMilliseconds);
}

DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds,
                            BOOL bAlertable) {
  return p::WaitForSingleObjectEx(hHandle, dwMilliseconds, bAlertable);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles,
                             BOOL bWaitAll, DWORD dwMilliseconds) {
  return p::WaitForMultipleObjects(nCount, lpHandles, bWaitAll, dwMilliseconds);
}

DWORD WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles,
                               BOOL bWaitAll, DWORD dwMilliseconds,
                               BOOL bAlertable) {
  return p::WaitForMultipleObjectsEx(nCount, lpHandles, bWaitAll,
                                     dwMilliseconds, bAlertable);
}

}  // extern "C"
