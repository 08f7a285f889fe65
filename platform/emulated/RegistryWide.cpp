// The wide registry functions of the emulated backend: not answered yet, so
// that code written against them links while they are built.
#include "platform/Platform.h"

namespace corvane::platform {

LONG RegOpenKeyExW(HKEY, const wchar_t*, DWORD, REGSAM, HKEY* phkResult) {
  if (phkResult != nullptr) *phkResult = 0;
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegCreateKeyExW(HKEY, const wchar_t*, DWORD, wchar_t*, DWORD, REGSAM,
                     const SECURITY_ATTRIBUTES*, HKEY* phkResult, DWORD*) {
  if (phkResult != nullptr) *phkResult = 0;
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegQueryValueExW(HKEY, const wchar_t*, DWORD*, DWORD*, BYTE*, DWORD*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegEnumValueW(HKEY, DWORD, wchar_t*, DWORD*, DWORD*, DWORD*, BYTE*,
                   DWORD*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegSetValueExW(HKEY, const wchar_t*, DWORD, DWORD, const BYTE*, DWORD) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegEnumKeyExW(HKEY, DWORD, wchar_t*, DWORD*, DWORD*, wchar_t*, DWORD*,
                   FILETIME*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegQueryInfoKeyW(HKEY, wchar_t*, DWORD*, DWORD*, DWORD*, DWORD*, DWORD*,
                      DWORD*, DWORD*, DWORD*, DWORD*, FILETIME*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegDeleteKeyW(HKEY, const wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
LONG RegDeleteValueW(HKEY, const wchar_t*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegGetValueA(HKEY, const char*, const char*, DWORD, DWORD*, void*,
                  DWORD*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegGetValueW(HKEY, const wchar_t*, const wchar_t*, DWORD, DWORD*, void*,
                  DWORD*) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
LONG RegDeleteTreeA(HKEY, const char*) { return ERROR_CALL_NOT_IMPLEMENTED; }
LONG RegDeleteTreeW(HKEY, const wchar_t*) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD FormatMessageW(DWORD, const void*, DWORD, DWORD, wchar_t*, DWORD,
                     va_list*) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

}  // namespace corvane::platform
