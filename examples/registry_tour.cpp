// A registry program written as ordinary Windows code: it includes
// <windows.h> and nothing of Corvane's. Built with mingw it runs on Windows'
// registry; built on Linux against corvane::winreg it runs on the emulated
// one, and prints the same lines. Everything it makes lives under
// HKEY_CURRENT_USER\Software\Corvane Example and is removed at the end.
#ifndef UNICODE
#define UNICODE
#endif
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

#include <string>

namespace {

const wchar_t kRoot[] = L"Software\\Corvane Example";

// Output in ASCII, characters beyond it as \uXXXX, so that both systems'
// consoles print the same bytes whatever their code page.
std::string Show(const wchar_t* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length && text[i] != L'\0'; ++i) {
    const unsigned c = static_cast<unsigned>(text[i]);
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char escaped[16];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    }
  }
  return out;
}

std::string Show(const wchar_t* text) { return Show(text, wcslen(text)); }

void Report(const char* what, LSTATUS status) {
  printf("%s: status %d\n", what, static_cast<int>(status));
}

LSTATUS SetString(HKEY key, const wchar_t* name, DWORD type,
                  const wchar_t* text, size_t chars) {
  // Sizes of string data are bytes: characters times sizeof(WCHAR).
  return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(chars * sizeof(WCHAR)));
}

void Build(HKEY root) {
  const wchar_t name[] = L"Caf\u00e9 5 \u20ac";
  const wchar_t list[] = L"one\0two\0";
  const DWORD count = 42;
  const ULONGLONG big = 0x1122334455667788ULL;
  // Created in their sorted order: Windows enumerates values in creation
  // order and Wine sorted, and the two should agree here.
  Report("set Count",
         RegSetValueExW(root, L"Count", 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&count), sizeof count));
  Report("set List",
         SetString(root, L"List", REG_MULTI_SZ, list, ARRAYSIZE(list)));
  Report("set Name", SetString(root, L"Name", REG_SZ, name, wcslen(name) + 1));
  Report("set Qword",
         RegSetValueEx(root, TEXT("Qword"), 0, REG_QWORD,
                       reinterpret_cast<const BYTE*>(&big), sizeof big));

  const wchar_t* children[] = {L"Beta", L"alpha", L"Gamma\\Deep"};
  for (const wchar_t* child : children) {
    HKEY key = NULL;
    DWORD disposition = 0;
    const LSTATUS status =
        RegCreateKeyEx(root, child, 0, NULL, REG_OPTION_NON_VOLATILE,
                       KEY_ALL_ACCESS, NULL, &key, &disposition);
    printf("create %s: status %d, %s\n", Show(child).c_str(),
           static_cast<int>(status),
           disposition == REG_CREATED_NEW_KEY ? "new" : "existing");
    if (status == ERROR_SUCCESS) RegCloseKey(key);
  }
}

void ReadName(HKEY root) {
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(root, L"Name", NULL, &type, NULL, &size);
  printf("Name: status %d, type %u, %u characters with the NUL\n",
         static_cast<int>(status), static_cast<unsigned>(type),
         static_cast<unsigned>(size / sizeof(WCHAR)));

  wchar_t small[3];
  DWORD smallSize = sizeof small;
  status = RegQueryValueExW(root, L"Name", NULL, NULL,
                            reinterpret_cast<BYTE*>(small), &smallSize);
  printf("Name into 3 characters: status %d, %u needed\n",
         static_cast<int>(status),
         static_cast<unsigned>(smallSize / sizeof(WCHAR)));

  wchar_t text[64];
  DWORD textSize = sizeof text;
  status = RegQueryValueEx(root, TEXT("Name"), NULL, NULL,
                           reinterpret_cast<BYTE*>(text), &textSize);
  printf("Name = \"%s\" (status %d)\n",
         Show(text, textSize / sizeof(WCHAR)).c_str(),
         static_cast<int>(status));

  status = RegQueryValueExW(root, L"Missing", NULL, NULL, NULL, &size);
  Report("Missing", status);
}

void Enumerate(HKEY root) {
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD chars = ARRAYSIZE(name);
    FILETIME written;
    const LSTATUS status =
        RegEnumKeyExW(root, i, name, &chars, NULL, NULL, NULL, &written);
    if (status != ERROR_SUCCESS) {
      Report("end of subkeys", status);
      break;
    }
    printf("subkey %u: %s (%u characters)\n", static_cast<unsigned>(i),
           Show(name).c_str(), static_cast<unsigned>(chars));
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD chars = ARRAYSIZE(name);
    DWORD type = 0;
    DWORD size = 0;
    const LSTATUS status =
        RegEnumValue(root, i, name, &chars, NULL, &type, NULL, &size);
    if (status != ERROR_SUCCESS) {
      Report("end of values", status);
      break;
    }
    printf("value %u: %s, type %u\n", static_cast<unsigned>(i),
           Show(name).c_str(), static_cast<unsigned>(type));
  }
}

void GetValues() {
  const wchar_t* path = kRoot;
  DWORD count = 0;
  DWORD size = sizeof count;
  LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, path, L"Count",
                                RRF_RT_REG_DWORD, NULL, &count, &size);
  printf("RegGetValue Count: status %d, %u\n", static_cast<int>(status),
         static_cast<unsigned>(count));

  wchar_t list[32];
  size = sizeof list;
  DWORD type = 0;
  status = RegGetValue(HKEY_CURRENT_USER, path, TEXT("List"),
                       RRF_RT_REG_MULTI_SZ, &type, list, &size);
  printf("RegGetValue List: status %d, type %u:", static_cast<int>(status),
         static_cast<unsigned>(type));
  if (status == ERROR_SUCCESS) {
    for (const wchar_t* item = list; *item != L'\0'; item += wcslen(item) + 1) {
      printf(" [%s]", Show(item).c_str());
    }
  }
  printf("\n");

  size = sizeof list;
  status = RegGetValueW(HKEY_CURRENT_USER, path, L"Count", RRF_RT_REG_SZ, NULL,
                        list, &size);
  Report("RegGetValue Count as a string", status);
}

void Inspect() {
  HKEY gamma = NULL;
  LSTATUS status =
      RegOpenKeyEx(HKEY_CURRENT_USER, TEXT("Software\\Corvane Example\\Gamma"),
                   0, KEY_READ, &gamma);
  Report("open Gamma", status);
  if (status != ERROR_SUCCESS) return;
  DWORD subkeys = 0;
  DWORD values = 0;
  status = RegQueryInfoKey(gamma, NULL, NULL, NULL, &subkeys, NULL, NULL,
                           &values, NULL, NULL, NULL, NULL);
  printf("Gamma: status %d, %u subkeys, %u values\n", static_cast<int>(status),
         static_cast<unsigned>(subkeys), static_cast<unsigned>(values));
  RegCloseKey(gamma);
}

}  // namespace

int main() {
  // What an earlier, interrupted run may have left.
  RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);

  HKEY root = NULL;
  DWORD disposition = 0;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, NULL,
                                   REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                   NULL, &root, &disposition);
  printf("create %s: status %d, %s\n", Show(kRoot).c_str(),
         static_cast<int>(status),
         disposition == REG_CREATED_NEW_KEY ? "new" : "existing");
  if (status != ERROR_SUCCESS) return 1;

  Build(root);
  ReadName(root);
  Enumerate(root);
  GetValues();
  Inspect();

  Report("delete tree Gamma", RegDeleteTreeW(root, L"Gamma"));
  HKEY gone = NULL;
  Report("open Gamma again", RegOpenKeyExW(root, L"Gamma", 0, KEY_READ, &gone));
  Report("delete value Qword", RegDeleteValue(root, TEXT("Qword")));
  Report("delete key Beta", RegDeleteKey(root, TEXT("Beta")));
  RegCloseKey(root);
  Report("delete tree", RegDeleteTreeW(HKEY_CURRENT_USER, kRoot));
  return 0;
}
