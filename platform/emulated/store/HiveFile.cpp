// Where the registry lives and reading a whole .reg file: the path the
// environment names, and the bytes of an old hive to import.
#include "platform/emulated/store/HiveFile.h"

#include <cstdlib>

namespace corvane::platform::emulated {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

std::string HivePath() {
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

}  // namespace corvane::platform::emulated
