// The table of system calls, filled with the system's own functions. open is
// variadic in C, so it gets a fixed-argument wrapper the table can point at.
#include "platform/emulated/system/SystemCalls.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace corvane::platform::emulated {
namespace {

int Open(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}
int Stat(const char* path, struct stat* st) { return ::stat(path, st); }
int Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }

constexpr SystemCalls kReal = {
    .open = Open,
    .close = ::close,
    .stat = Stat,
    .fstat = Fstat,
    .access = ::access,
    .ftruncate = ::ftruncate,
    .read = ::read,
    .mmap = ::mmap,
    .munmap = ::munmap,
    .mkdir = ::mkdir,
    .fsync = ::fsync,
    .link = ::link,
    .unlink = ::unlink,
};

SystemCalls table = kReal;

}  // namespace

SystemCalls& System() { return table; }
const SystemCalls& RealSystemCalls() { return kReal; }

bool Exists(const std::string& path) {
  struct stat st;
  return System().stat(path.c_str(), &st) == 0;
}

int CreateFolders(const std::string& path) {
  if (path.empty()) return 0;
  struct stat st;
  if (System().stat(path.c_str(), &st) == 0) {
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  }
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash != 0) {
    if (const int error = CreateFolders(path.substr(0, slash))) return error;
  }
  if (System().mkdir(path.c_str(), 0777) == 0) return 0;
  const int error = errno;
  // Another process may have made it in the meantime.
  if (error == EEXIST && System().stat(path.c_str(), &st) == 0 &&
      S_ISDIR(st.st_mode)) {
    return 0;
  }
  return error;
}

}  // namespace corvane::platform::emulated
