// corvane_regchild: a second (third, ...) process on the registry for the
// multi-process tests. It runs the commands on its command line in order,
// through the platform functions, and prints one line per command that has
// something to say, flushed at once so that the test can wait for it:
//
//   set KEY NAME DATA        REG_SZ value (the key is created)   -> ok
//   put KEY NAME DATA        REG_SZ value in a key that exists    -> ok
//   get KEY NAME             a string value's data               -> DATA
//   create KEY               the key                             -> ok
//   delete KEY               the key (it must have no subkeys)   -> ok
//   count KEY                subkeys and values                  -> S V
//   names KEY                value names in the key's order      -> N1;N2;..
//   write-many KEY PREFIX N  values PREFIX0.. PREFIX<N-1>, data "0".. -> ok
//   wait FILE                blocks until FILE exists (at most a minute)
//   notify KEY FILTER SUB    registers for changes of KEY (FILTER: the
//                            REG_NOTIFY_CHANGE_* bits in decimal; SUB 1:
//                            its subtree), says so, and waits for the
//                            event (at most 20 s)  -> armed, then notified
//                                                     or timeout
//
// and on the emulated backend, for the tests of its store:
//
//   import FILE              a .reg file, through ImportRegFile  -> ok
//   lock                     holds the writers' turn and the store's write
//                            lock until exit                    -> locked
//
// KEY is a path below HKEY_CURRENT_USER. A failed call prints "error STATUS"
// (import: "error TEXT") and ends the run with exit status 1; bad usage
// exits with 2, a wait that gives up with 3.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/ReadAll.h"
#include "platform/Platform.h"

#ifdef CORVANE_EMULATED
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "platform/emulated/store/SharedChanges.h"
#endif

using namespace corvane::platform;

namespace {

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
  Say("error " + why);
  std::exit(1);
}

void Check(LONG status) {
  if (status != ERROR_SUCCESS) Fail(std::to_string(status));
}

HKEY CreateKey(const std::string& path) {
  HKEY key = 0;
  Check(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr));
  return key;
}

HKEY OpenKey(const std::string& path) {
  HKEY key = 0;
  Check(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key));
  return key;
}

void SetString(HKEY key, const std::string& name, const std::string& data) {
  Check(RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1)));
}

std::string GetString(HKEY key, const std::string& name) {
  std::vector<BYTE> data(4096);
  DWORD size = static_cast<DWORD>(data.size()), type = 0;
  Check(
      RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size));
  std::string text(reinterpret_cast<const char*>(data.data()), size);
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

#ifdef CORVANE_EMULATED
// The connection that holds the store's write lock: open, and reachable, until
// exit, so the lock goes with the process.
sqlite3* g_lock_holder = nullptr;

// Takes the writers' turn in the store's change memory, as a writer does
// before SQLite's lock (the store exists, so it is set up).
void HoldTurn(const std::string& db) {
  using corvane::platform::emulated::SharedChanges;
  const std::string path = db + "-changes";
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) Fail(path + ": can't be opened");
  void* map = mmap(nullptr, sizeof(SharedChanges), PROT_READ | PROT_WRITE,
                   MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) Fail(path + ": can't be mapped");
  auto* shared = static_cast<SharedChanges*>(map);
  if (shared->ready != SharedChanges::kReady) Fail(path + ": not set up");
  const int rc = pthread_mutex_lock(&shared->turn);
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(&shared->turn);
  } else if (rc != 0) {
    Fail(path + ": no turn (" + std::to_string(rc) + ")");
  }
}

// Takes the write lock of the store the emulation keeps in SQLite, the way
// one of its writers does.
void HoldWriteLock() {
  const char* named = std::getenv("CORVANE_REGISTRY");
  if (named == nullptr) Fail("CORVANE_REGISTRY is not set");
  std::string path = named;
  if (path.ends_with(".reg")) path += ".db";
  HoldTurn(path);
  sqlite3*& db = g_lock_holder;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
      SQLITE_OK) {
    Fail(path + ": " + sqlite3_errmsg(db));
  }
  sqlite3_busy_timeout(db, 10000);
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    Fail(path + ": " + sqlite3_errmsg(db));
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::size_t at = 0;
  // The next `count` arguments of the current command.
  auto take = [&](std::size_t count) {
    if (at + count > args.size()) {
      std::fprintf(stderr, "regchild: %s needs %zu arguments\n",
                   args[at - 1].c_str(), count);
      std::exit(2);
    }
    std::vector<std::string> taken(args.begin() + at,
                                   args.begin() + at + count);
    at += count;
    return taken;
  };
  while (at < args.size()) {
    const std::string command = args[at++];
    if (command == "set") {
      const auto a = take(3);
      const HKEY key = CreateKey(a[0]);
      SetString(key, a[1], a[2]);
      RegCloseKey(key);
      Say("ok");
    } else if (command == "put") {
      // A key opened only to set a value: the write is the set alone.
      const auto a = take(3);
      HKEY key = 0;
      Check(RegOpenKeyExA(HKEY_CURRENT_USER, a[0].c_str(), 0, KEY_SET_VALUE,
                          &key));
      SetString(key, a[1], a[2]);
      RegCloseKey(key);
      Say("ok");
    } else if (command == "get") {
      const auto a = take(2);
      const HKEY key = OpenKey(a[0]);
      Say(GetString(key, a[1]));
      RegCloseKey(key);
    } else if (command == "create") {
      RegCloseKey(CreateKey(take(1)[0]));
      Say("ok");
    } else if (command == "delete") {
      Check(RegDeleteKeyA(HKEY_CURRENT_USER, take(1)[0].c_str()));
      Say("ok");
    } else if (command == "count") {
      const HKEY key = OpenKey(take(1)[0]);
      DWORD subkeys = 0, values = 0;
      Check(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                             nullptr, &values, nullptr, nullptr, nullptr,
                             nullptr));
      RegCloseKey(key);
      Say(std::to_string(subkeys) + " " + std::to_string(values));
    } else if (command == "names") {
      const HKEY key = OpenKey(take(1)[0]);
      std::string names;
      char name[256];
      for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        const LONG status = RegEnumValueA(key, i, name, &length, nullptr,
                                          nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        Check(status);
        names += std::string(name, length) + ";";
      }
      RegCloseKey(key);
      Say(names);
    } else if (command == "write-many") {
      const auto a = take(3);
      const HKEY key = CreateKey(a[0]);
      const int count = std::atoi(a[2].c_str());
      for (int i = 0; i < count; ++i) {
        SetString(key, a[1] + std::to_string(i), std::to_string(i));
      }
      RegCloseKey(key);
      Say("ok");
#ifdef CORVANE_EMULATED
    } else if (command == "import") {
      const std::string file = take(1)[0];
      std::ifstream in(file, std::ios::binary);
      const std::string error = ImportRegFile(corvane::base::ReadAll(in), file);
      if (!error.empty()) Fail(error);
      Say("ok");
    } else if (command == "lock") {
      HoldWriteLock();
      Say("locked");
#endif
    } else if (command == "notify") {
      const auto a = take(3);
      const HKEY key = OpenKey(a[0]);
      const HANDLE event = CreateEventA(nullptr, 1, 0, nullptr);
      if (event == nullptr) Fail("no event");
      Check(RegNotifyChangeKeyValue(key, std::atoi(a[2].c_str()),
                                    static_cast<DWORD>(std::atol(a[1].c_str())),
                                    event, 1));
      Say("armed");
      Say(WaitForSingleObject(event, 20000) == WAIT_OBJECT_0 ? "notified"
                                                             : "timeout");
      CloseHandle(event);
      RegCloseKey(key);
    } else if (command == "wait") {
      const std::filesystem::path file = take(1)[0];
      const auto give_up =
          std::chrono::steady_clock::now() + std::chrono::minutes(1);
      while (!std::filesystem::exists(file)) {
        if (std::chrono::steady_clock::now() > give_up) return 3;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    } else {
      std::fprintf(stderr, "regchild: unknown command %s\n", command.c_str());
      return 2;
    }
  }
  return 0;
}
