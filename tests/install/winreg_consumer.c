/* A C program's registry code against the installed corvane::winreg: it
 * says <windows.h>, as it would on Windows, and gets the emulated registry. */
#include <string.h>
#include <windows.h>

int WinRegConsumerCheck(void) {
  HKEY key = NULL;
  const WCHAR text[] = L"from C";
  WCHAR back[16];
  DWORD size = sizeof back;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Consumer", 0,
                                   NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
  if (status != ERROR_SUCCESS) return (int)status;
  status =
      RegSetValueExW(key, L"text", 0, REG_SZ, (const BYTE*)text, sizeof text);
  if (status == ERROR_SUCCESS) {
    status = RegGetValueW(HKEY_CURRENT_USER, L"Software\\Consumer", L"text",
                          RRF_RT_REG_SZ, NULL, back, &size);
  }
  if (status == ERROR_SUCCESS &&
      (size != sizeof text || memcmp(back, text, sizeof text) != 0)) {
    status = ERROR_INVALID_DATA;
  }
  RegCloseKey(key);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Consumer");
  return (int)status;
}
