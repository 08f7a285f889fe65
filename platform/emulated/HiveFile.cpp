// Hive file operations on POSIX (flock, fsync, rename), with a plainer
// fallback for the emulated backend built by mingw, where the file is only
// ever used by tests: no lock, and flushes through the C runtime.
#include "platform/emulated/HiveFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace corvane::platform::emulated {
namespace {

std::string Reason(const std::string& path, int error) {
  return path + ": " + std::generic_category().message(error);
}

struct Fault {
  HiveStep step;
  int error = 0;
};
std::mutex g_fault_mutex;
Fault g_fault;

// The errno a test asked this step to fail with, or 0.
int Injected(HiveStep step) {
  std::lock_guard lock(g_fault_mutex);
  if (g_fault.error == 0 || g_fault.step != step) return 0;
  const int error = g_fault.error;
  g_fault.error = 0;
  return error;
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The temporary files of a save are ".<hive name>.tmp-<pid>-<n>".
std::string TempPrefix(const fs::path& hive) {
  std::string prefix = ".";
  prefix += hive.filename().string();
  prefix += ".tmp-";
  return prefix;
}

std::string CreateFolder(const fs::path& dir) {
  if (dir.empty()) return {};
  if (const int e = Injected(HiveStep::kCreateFolder)) {
    return Reason(dir.string(), e);
  }
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return dir.string() + ": " + ec.message();
  return {};
}

#ifndef _WIN32
void RemoveStaleTemps(const fs::path& hive) {
  const std::string prefix = TempPrefix(hive);
  std::error_code ec;
  const fs::path dir = hive.parent_path().empty() ? "." : hive.parent_path();
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->path().filename().string().rfind(prefix, 0) == 0) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
}
#endif

// The file a save must replace: a symbolic link's target, so that the link
// stays a link.
fs::path SaveTarget(const std::string& path) {
  std::error_code ec;
  if (fs::is_symlink(path, ec)) {
    const fs::path target = fs::canonical(path, ec);
    if (!ec) return target;
  }
  return path;
}

#ifndef _WIN32
bool WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= std::size_t(w);
  }
  return true;
}
#endif

}  // namespace

std::string HivePath() {
  std::string path = Env("CORVANE_REGISTRY");
  if (!path.empty()) return path;
  std::string base = Env("XDG_DATA_HOME");
  if (base.empty() || base[0] != '/') {
    std::string home = Env("HOME");
#ifdef _WIN32
    if (home.empty()) home = Env("USERPROFILE");
#endif
    if (home.empty()) return {};
    base = home + "/.local/share";
  }
  return base + "/corvane/registry.reg";
}

std::string LockHive(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return {};
#else
  static std::mutex mutex;
  static std::set<std::string> held;
  std::lock_guard guard(mutex);
  std::error_code ec;
  const std::string key = fs::weakly_canonical(path, ec).string();
  if (held.count(ec ? path : key)) return {};

  const fs::path hive(path);
  if (std::string err = CreateFolder(hive.parent_path()); !err.empty()) {
    return err;
  }
  const std::string lock_path = path + ".lock";
  int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};  // read-only place, see the header
  }
  if (fd < 0) return Reason(lock_path, errno);
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int e = errno;
      ::close(fd);
      return Reason(lock_path, e);
    }
  }
  // The descriptor stays open on purpose: the lock lasts until exit.
  held.insert(ec ? path : key);
  RemoveStaleTemps(hive);
  return {};
#endif
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
  const auto size = fs::file_size(path, ec);
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

std::string WriteHiveFile(const std::string& path, const std::string& bytes) {
  const fs::path target = SaveTarget(path);
  const fs::path dir = target.parent_path();
  if (std::string err = CreateFolder(dir); !err.empty()) return err;

  static std::atomic<unsigned> counter{0};
#ifdef _WIN32
  const int pid = _getpid();
#else
  const int pid = int(::getpid());
#endif
  const fs::path temp = dir / (TempPrefix(target) + std::to_string(pid) + "-" +
                               std::to_string(counter++));
  const std::string temp_name = temp.string();
  auto fail = [&](int error) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return Reason(path, error);
  };

#ifdef _WIN32
  if (const int e = Injected(HiveStep::kCreateTemp)) return fail(e);
  std::FILE* f = std::fopen(temp_name.c_str(), "wb");
  if (f == nullptr) return fail(errno);
  int e = Injected(HiveStep::kWrite);
  if (e == 0 && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    e = errno ? errno : EIO;
  }
  if (e == 0 && std::fflush(f) != 0) e = errno;
  if (e == 0) e = Injected(HiveStep::kSync);
  if (e == 0 && _commit(_fileno(f)) != 0) e = errno;
  if (std::fclose(f) != 0 && e == 0) e = errno;
  if (e != 0) return fail(e);
  if (const int r = Injected(HiveStep::kRename)) return fail(r);
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) return fail(ec.value());
  return {};
#else
  if (const int e = Injected(HiveStep::kCreateTemp)) return fail(e);
  const int fd =
      ::open(temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return fail(errno);
  // The new hive keeps the old one's permissions.
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  int e = Injected(HiveStep::kWrite);
  if (e == 0 && !WriteAll(fd, bytes.data(), bytes.size())) e = errno;
  if (e == 0) e = Injected(HiveStep::kSync);
  if (e == 0 && ::fsync(fd) != 0) e = errno;
  if (::close(fd) != 0 && e == 0) e = errno;
  if (e != 0) return fail(e);
  if (const int r = Injected(HiveStep::kRename)) return fail(r);
  if (::rename(temp_name.c_str(), target.c_str()) != 0) return fail(errno);
  // The rename itself reaches the disk only with the folder.
  const int dfd = ::open(dir.empty() ? "." : dir.c_str(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return {};
#endif
}

void FailNextHiveSave(HiveStep step, int error) {
  std::lock_guard lock(g_fault_mutex);
  g_fault = {step, error};
}

}  // namespace corvane::platform::emulated
