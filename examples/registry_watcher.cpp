// A settings watcher written as Windows services and tools write one: a
// thread waits on a change notification's event or a stop event, reloads
// the settings when they change, and arms the notification again. It
// includes <Windows.h> and nothing of Corvane's; built with mingw it runs on
// Windows' registry, on Linux against corvane::winreg on the emulated one,
// and prints the same lines. Everything it makes lives under
// HKEY_CURRENT_USER\Software\Corvane Watcher Example and is removed at the
// end.
#ifndef UNICODE
#define UNICODE
#endif
#include <Windows.h>
#include <stdio.h>

#include <string>
#include <thread>

namespace {

const wchar_t kPath[] = L"Software\\Corvane Watcher Example";

// The settings as the watcher last read them.
struct Settings {
  DWORD interval = 0;
  std::wstring mode;
  DWORD profiles = 0;
};

Settings Load(HKEY key) {
  Settings settings;
  DWORD size = sizeof settings.interval;
  if (RegGetValueW(key, nullptr, L"Interval", RRF_RT_REG_DWORD, nullptr,
                   &settings.interval, &size) != ERROR_SUCCESS) {
    settings.interval = 0;
  }
  wchar_t mode[64];
  size = sizeof mode;
  if (RegGetValueW(key, nullptr, L"Mode", RRF_RT_REG_SZ, nullptr, mode,
                   &size) == ERROR_SUCCESS) {
    settings.mode = mode;
  }
  HKEY profiles = nullptr;
  if (RegOpenKeyExW(key, L"Profiles", 0, KEY_READ, &profiles) ==
      ERROR_SUCCESS) {
    RegQueryInfoKeyW(profiles, nullptr, nullptr, nullptr, &settings.profiles,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(profiles);
  }
  return settings;
}

// Names and values anywhere below the key: what a reload depends on.
constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// Watches `key` until `stop` is set. After each reload it sets `reloaded`,
// once the notification is armed again, so that the next change is seen.
void Watch(HKEY key, HANDLE stop, HANDLE reloaded) {
  HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  int reloads = 0;
  for (;;) {
    LSTATUS status = RegNotifyChangeKeyValue(key, TRUE, kFilter, changed, TRUE);
    if (status != ERROR_SUCCESS) {
      printf("watcher: cannot watch (%ld)\n", static_cast<long>(status));
      break;
    }
    SetEvent(reloaded);
    const HANDLE both[] = {changed, stop};
    const DWORD woken = WaitForMultipleObjects(2, both, FALSE, 10000);
    if (woken == WAIT_OBJECT_0 + 1) break;
    if (woken != WAIT_OBJECT_0) {
      printf("watcher: no change seen in 10 s\n");
      break;
    }
    const Settings settings = Load(key);
    printf("reload %d: interval %lu, mode \"%ls\", %lu profile(s)\n", ++reloads,
           static_cast<unsigned long>(settings.interval), settings.mode.c_str(),
           static_cast<unsigned long>(settings.profiles));
  }
  CloseHandle(changed);
}

// One change, then a wait until the watcher has reloaded and armed again.
bool Step(const char* what, LSTATUS status, HANDLE reloaded) {
  printf("change: %s\n", what);
  if (status != ERROR_SUCCESS) {
    printf("  failed: %ld\n", static_cast<long>(status));
    return false;
  }
  if (WaitForSingleObject(reloaded, 10000) != WAIT_OBJECT_0) {
    printf("  the watcher did not reload\n");
    return false;
  }
  return true;
}

}  // namespace

int main() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0,
                      KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    printf("cannot create the example's key\n");
    return 1;
  }
  const DWORD interval = 30;
  RegSetValueExW(key, L"Interval", 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&interval), sizeof interval);
  HKEY profile = nullptr;
  if (RegCreateKeyExW(key, L"Profiles", 0, nullptr, 0, KEY_WRITE, nullptr,
                      &profile, nullptr) == ERROR_SUCCESS) {
    RegCloseKey(profile);
  }
  const Settings first = Load(key);
  printf("loaded: interval %lu, mode \"%ls\", %lu profile(s)\n",
         static_cast<unsigned long>(first.interval), first.mode.c_str(),
         static_cast<unsigned long>(first.profiles));

  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE reloaded = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::thread watcher(Watch, key, stop, reloaded);
  bool ok = WaitForSingleObject(reloaded, 10000) == WAIT_OBJECT_0;

  const DWORD faster = 5;
  const wchar_t night[] = L"night";
  ok = ok && Step("interval 5",
                  RegSetValueExW(key, L"Interval", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&faster),
                                 sizeof faster),
                  reloaded);
  ok = ok &&
       Step("mode night",
            RegSetValueExW(key, L"Mode", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(night), sizeof night),
            reloaded);
  ok = ok && Step("a profile added below",
                  RegCreateKeyExW(key, L"Profiles\\Dark", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &profile, nullptr),
                  reloaded);
  if (profile != nullptr) RegCloseKey(profile);
  ok = ok && Step("mode removed", RegDeleteValueW(key, L"Mode"), reloaded);

  SetEvent(stop);
  watcher.join();
  printf("stopped\n");
  CloseHandle(stop);
  CloseHandle(reloaded);
  RegCloseKey(key);
  RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
  return ok ? 0 : 1;
}
