// The system calls the emulated registry makes itself (SQLite makes its own):
// the change counter's file and mapping, reading a .reg file whole, creating
// the store's folder, putting a store built aside in its place. They are
// reached through one table, as SQLite's VFS reaches its own, so that a test
// can make any of them fail without the code that calls them knowing about
// tests. POSIX only: CMake builds the emulated backend only off Windows.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace corvane::platform::emulated {

// Each entry behaves as the POSIX function of its name: -1 (MAP_FAILED for
// mmap) with errno set on failure.
struct SystemCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  int (*stat)(const char* path, struct stat* st);
  int (*fstat)(int fd, struct stat* st);
  int (*access)(const char* path, int mode);
  int (*ftruncate)(int fd, off_t length);
  ssize_t (*read)(int fd, void* buffer, std::size_t count);
  void* (*mmap)(void* address, std::size_t length, int protection, int flags,
                int fd, off_t offset);
  int (*munmap)(void* address, std::size_t length);
  int (*mkdir)(const char* path, mode_t mode);
  int (*fsync)(int fd);
  int (*link)(const char* from, const char* to);
  int (*unlink)(const char* path);
};

// The table in use. A test may replace entries, and puts back
// RealSystemCalls() when it is done.
SystemCalls& System();
// The system's own functions.
const SystemCalls& RealSystemCalls();

// Creates `path` and the folders above it that are missing, through the
// table's mkdir. 0 or the errno of the step that failed; a folder that
// exists already is no failure.
int CreateFolders(const std::string& path);

// Whether `path` names anything, through the table's stat.
bool Exists(const std::string& path);

}  // namespace corvane::platform::emulated
