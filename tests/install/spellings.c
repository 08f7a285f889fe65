/* Each spelling Windows code gives the headers, against the installed
 * corvane::winreg: <Windows.h>, <winreg.h>, <winerror.h>. Returns 0 when a
 * system text comes back in a buffer FormatMessage allocated. */
#include <Windows.h>
#include <winerror.h>
#include <winreg.h>

int SpellingsConsumerCheck(void) {
  LPWSTR text = NULL;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      NULL, ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      (LPWSTR)&text, 0, NULL);
  const int found = length > 0 && text != NULL;
  return LocalFree(text) == NULL && found ? 0 : 1;
}
