// Where the registry lives and reading a whole .reg file: the path the
// environment names, and the bytes of an old hive to import.
#include "platform/emulated/HiveFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace corvane::platform::emulated {
namespace {

std::string Reason(const std::string& path, int error) {
  return path + ": " + std::generic_category().message(error);
}

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

std::string ReadHiveFile(const std::string& path, std::string& bytes,
                         bool& missing) {
  missing = false;
  bytes.clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    if (errno == ENOENT) {
      missing = true;
      return {};
    }
    return Reason(path, errno);
  }
  // One allocation for the usual case; the loop still copes with a file
  // that grows while it is read.
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (!ec) bytes.reserve(std::size_t(size));
  char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  const int e = errno;
  std::fclose(f);
  if (failed) return Reason(path, e ? e : EIO);
  return {};
}

}  // namespace corvane::platform::emulated
