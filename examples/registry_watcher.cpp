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

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace {

const wchar_t kPath[] = L"Software\\Corvane Watcher Example";

// The settings as the watcher last read them.
struct Settings {
  DWORD interval = 0;
  std::wstring mode;
  DWORD profiles = 0;
  bool operator==(const Settings&) const = default;
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

void Print(const char* what, const Settings& settings) {
  printf("%s: interval %lu, mode \"%ls\", %lu profile(s)\n", what,
         static_cast<unsigned long>(settings.interval), settings.mode.c_str(),
         static_cast<unsigned long>(settings.profiles));
}

// Names and values anywhere below the key: what a reload depends on.
constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// What the watcher thread shares with the one changing the settings.
struct Watcher {
  HKEY key = nullptr;
  HANDLE stop = nullptr;
  // Set each time the watcher has armed its notification again.
  HANDLE armed = nullptr;
  std::mutex mutex;
  Settings current;  // guarded by mutex
};

// Watches the key until `stop` is set. A notification may come more than
// once for one change (a key created is a change to its parent too), so
// the watcher reloads on each and reports only settings that differ.
void Watch(Watcher& w) {
  HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  int reloads = 0;
  for (;;) {
    LSTATUS status =
        RegNotifyChangeKeyValue(w.key, TRUE, kFilter, changed, TRUE);
    if (status != ERROR_SUCCESS) {
      printf("watcher: cannot watch (%ld)\n", static_cast<long>(status));
      break;
    }
    SetEvent(w.armed);
    const HANDLE both[] = {changed, w.stop};
    const DWORD woken = WaitForMultipleObjects(2, both, FALSE, 10000);
    if (woken == WAIT_OBJECT_0 + 1) break;
    if (woken != WAIT_OBJECT_0) {
      printf("watcher: no change seen in 10 s\n");
      break;
    }
    const Settings settings = Load(w.key);
    const std::lock_guard<std::mutex> lock(w.mutex);
    if (settings == w.current) continue;
    w.current = settings;
    Print(("reload " + std::to_string(++reloads)).c_str(), settings);
  }
  CloseHandle(changed);
}

LSTATUS SetInterval(HKEY key, DWORD interval) {
  return RegSetValueExW(key, L"Interval", 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&interval),
                        sizeof interval);
}

LSTATUS SetMode(HKEY key, const std::wstring& mode) {
  return RegSetValueExW(
      key, L"Mode", 0, REG_SZ, reinterpret_cast<const BYTE*>(mode.c_str()),
      static_cast<DWORD>((mode.size() + 1) * sizeof(wchar_t)));
}

LSTATUS AddProfile(HKEY key, const wchar_t* name) {
  HKEY profile = nullptr;
  const LSTATUS status = RegCreateKeyExW(key, name, 0, nullptr, 0, KEY_WRITE,
                                         nullptr, &profile, nullptr);
  if (status == ERROR_SUCCESS) RegCloseKey(profile);
  return status;
}

// One change, made by `change` after it is announced, then a wait until
// the watcher has seen the settings it leaves.
template <class Change>
bool Step(Watcher& w, const char* what, const Settings& expected,
          Change&& change) {
  printf("change: %s\n", what);
  const LSTATUS status = change();
  if (status != ERROR_SUCCESS) {
    printf("  failed: %ld\n", static_cast<long>(status));
    return false;
  }
  for (;;) {
    if (WaitForSingleObject(w.armed, 10000) != WAIT_OBJECT_0) {
      printf("  the watcher did not reload\n");
      return false;
    }
    const std::lock_guard<std::mutex> lock(w.mutex);
    if (w.current == expected) return true;
  }
}

}  // namespace

int main() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
  Watcher w;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0,
                      KEY_READ | KEY_WRITE, nullptr, &w.key,
                      nullptr) != ERROR_SUCCESS) {
    printf("cannot create the example's key\n");
    return 1;
  }
  SetInterval(w.key, 30);
  AddProfile(w.key, L"Profiles");
  w.current = Load(w.key);
  Print("loaded", w.current);

  w.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  w.armed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::thread watcher(Watch, std::ref(w));
  bool ok = WaitForSingleObject(w.armed, 10000) == WAIT_OBJECT_0;

  Settings expected = w.current;
  expected.interval = 5;
  ok = ok &&
       Step(w, "interval 5", expected, [&] { return SetInterval(w.key, 5); });
  expected.mode = L"night";
  ok = ok && Step(w, "mode night", expected,
                  [&] { return SetMode(w.key, L"night"); });
  expected.profiles = 1;
  ok = ok && Step(w, "a profile added below", expected,
                  [&] { return AddProfile(w.key, L"Profiles\\Dark"); });
  expected.mode.clear();
  ok = ok && Step(w, "mode removed", expected,
                  [&] { return RegDeleteValueW(w.key, L"Mode"); });

  SetEvent(w.stop);
  watcher.join();
  printf("stopped\n");
  CloseHandle(w.stop);
  CloseHandle(w.armed);
  RegCloseKey(w.key);
  RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
  return ok ? 0 : 1;
}
