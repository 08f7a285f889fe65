// Where the store lives (StoreLocation.h).
#include "platform/emulated/store/StoreLocation.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace corvane::platform::emulated {
namespace {

// What StoreLocation reads.
constexpr std::string_view kStoreVariables[] = {"CORVANE_REGISTRY",
                                                "XDG_DATA_HOME", "HOME"};

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

std::string StoreLocation() {
  std::string path = Env("CORVANE_REGISTRY");
  if (!path.empty()) return path;
  std::string base = Env("XDG_DATA_HOME");
  if (base.empty() || base[0] != '/') {
    const std::string home = Env("HOME");
    if (home.empty()) return {};
    base = home + "/.local/share";
  }
  return base + "/corvane/registry.reg";
}

// setenv and putenv put a changed value in a new string in the same place
// of the array, a new variable goes at its end, and unsetenv moves the
// entries after the one it takes out: so while the array, its length, its
// last entry and the entries of the store's variables are the ones seen,
// the variables hold the values they held.
bool EnvironmentWatch::AsSeen() const {
  if (seen_.array == nullptr || environ != seen_.array ||
      environ[seen_.length] != nullptr ||
      (seen_.length > 0 && environ[seen_.length - 1] != seen_.last)) {
    return false;
  }
  for (const auto& [at, entry] : seen_.entries) {
    if (environ[at] != entry) return false;
  }
  return true;
}

void EnvironmentWatch::See() {
  seen_.entries.clear();
  seen_.array = nullptr;
  if (environ == nullptr) return;  // cleared: looked up every time
  std::size_t i = 0;
  for (; environ[i] != nullptr; ++i) {
    const std::string_view entry = environ[i];
    for (const std::string_view name : kStoreVariables) {
      if (entry.size() > name.size() && entry.starts_with(name) &&
          entry[name.size()] == '=') {
        seen_.entries.emplace_back(i, environ[i]);
      }
    }
  }
  seen_.array = environ;
  seen_.length = i;
  seen_.last = i > 0 ? environ[i - 1] : nullptr;
}

}  // namespace corvane::platform::emulated
