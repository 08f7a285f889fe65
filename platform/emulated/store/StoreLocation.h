// Where the store lives: the name the environment gives it, and a cheap
// check, made once per registry call, that the environment still names the
// store found last.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace corvane::platform::emulated {

// CORVANE_REGISTRY when set and not empty, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/corvane/registry.reg (a relative
// XDG_DATA_HOME is ignored, as the XDG rules ask). "" when neither
// CORVANE_REGISTRY nor HOME tells where. The database is DatabasePathFor()
// it.
std::string StoreLocation();

// The variables StoreLocation reads, as the environment held them when
// last seen, checked without searching the environment.
class EnvironmentWatch {
 public:
  // Whether the variables hold the values they held at See().
  bool AsSeen() const;
  void See();
  void Forget() { seen_.array = nullptr; }

 private:
  struct Seen {
    char** array = nullptr;  // none seen
    std::size_t length = 0;
    const char* last = nullptr;
    // The store's variables that were set: where, and the entry.
    std::vector<std::pair<std::size_t, const char*>> entries;
  } seen_;
};

}  // namespace corvane::platform::emulated
