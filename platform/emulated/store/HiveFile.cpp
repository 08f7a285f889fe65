// Where the registry lives and reading a whole .reg file: the path the
// environment names, and the bytes of an old hive to import.
#include "platform/emulated/store/HiveFile.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "platform/emulated/system/SystemCalls.h"

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
  const SystemCalls& sys = System();
  const int fd = sys.open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    if (errno == ENOENT) {
      missing = true;
      return {};
    }
    return Reason(path, errno);
  }
  // One allocation for the usual case; the loop still copes with a file
  // that grows while it is read.
  struct stat st;
  if (sys.fstat(fd, &st) == 0 && st.st_size > 0) {
    bytes.reserve(static_cast<std::size_t>(st.st_size));
  }
  char buffer[1 << 16];
  int error = 0;
  for (;;) {
    const ssize_t n = sys.read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
      break;
    }
  }
  sys.close(fd);
  if (error != 0) {
    bytes.clear();
    return Reason(path, error);
  }
  return {};
}

}  // namespace corvane::platform::emulated
