/* The registry API from C, without UNICODE: the header must compile as C
 * and the unsuffixed names must be the ANSI functions. */
#undef UNICODE
#undef _UNICODE
#include <string.h>
#include <windows.h>

#include "WinRegTestSupport.h"

/* TCHAR is char here: a wrong mapping fails to compile. */
typedef char TcharIsChar[sizeof(TCHAR) == 1 ? 1 : -1];
typedef char TextIsNarrow[sizeof(TEXT("ab")) == 3 ? 1 : -1];

#define CHECK(condition) \
  do {                   \
    if (!(condition)) {  \
      failed = __LINE__; \
      goto done;         \
    }                    \
  } while (0)

int WinRegFromC(const char* path) {
  int failed = 0;
  HKEY key = NULL;
  DWORD disposition = 0;
  DWORD value = 0x01020304;
  DWORD type = 0;
  DWORD size = 0;
  char name[16];
  DWORD chars = sizeof name;
  BYTE data[16];

  CHECK(RegCreateKeyEx(HKEY_CURRENT_USER, path, 0, NULL,
                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                       &disposition) == ERROR_SUCCESS);
  CHECK(disposition == REG_CREATED_NEW_KEY);
  CHECK(RegSetValueEx(key, "number", 0, REG_DWORD, (const BYTE*)&value,
                      sizeof value) == ERROR_SUCCESS);
  size = sizeof data;
  CHECK(RegEnumValue(key, 0, name, &chars, NULL, &type, data, &size) ==
        ERROR_SUCCESS);
  CHECK(strcmp(name, "number") == 0 && chars == 6);
  CHECK(type == REG_DWORD && size == 4 && memcmp(data, &value, 4) == 0);
  value = 0;
  size = sizeof value;
  CHECK(RegGetValue(key, NULL, "number", RRF_RT_REG_DWORD, NULL, &value,
                    &size) == ERROR_SUCCESS);
  CHECK(value == 0x01020304);
  CHECK(RegSetValue(key, "older", REG_SZ, "text", 0) == ERROR_SUCCESS);
  {
    char text[8];
    LONG textSize = sizeof text;
    CHECK(RegQueryValue(key, "older", text, &textSize) == ERROR_SUCCESS);
    CHECK(strcmp(text, "text") == 0 && textSize == 5);
  }
  CHECK(RegDeleteValue(key, "number") == ERROR_SUCCESS);
  CHECK(RegQueryValueEx(key, "number", NULL, NULL, NULL, NULL) ==
        ERROR_FILE_NOT_FOUND);

done:
  if (key != NULL) RegCloseKey(key);
  RegDeleteTreeA(HKEY_CURRENT_USER, path);
  return failed;
}
