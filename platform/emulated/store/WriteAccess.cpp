// Whether this process may write a store (WriteAccess.h).
#include "platform/emulated/store/WriteAccess.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/emulated/store/StorePaths.h"
#include "platform/emulated/system/SystemCalls.h"

namespace corvane::platform::emulated {
namespace {

std::string Refusal(const std::string& path) {
  return path + ": " + std::generic_category().message(errno);
}

}  // namespace

std::string WhyNotWritable(const std::string& db) {
  const SystemCalls& sys = System();
  std::filesystem::path folder = std::filesystem::path(db).parent_path();
  if (folder.empty()) folder = ".";
  // A store not made yet is made in its folder, or in the nearest one
  // that exists.
  while (!Exists(folder.string()) && folder.has_relative_path() &&
         folder.has_parent_path() && folder != folder.parent_path()) {
    folder = folder.parent_path();
  }
  const bool folderWritable = sys.access(folder.c_str(), W_OK | X_OK) == 0;
  const std::string folderRefusal = folderWritable ? "" : Refusal(folder);
  for (const std::string& file :
       {db, LogPath(db), SharedMemoryPath(db), ChangesPath(db)}) {
    if (Exists(file)) {
      if (sys.access(file.c_str(), W_OK) != 0) return Refusal(file);
    } else if (!folderWritable) {
      // SQLite and the counter make their files when they are missing.
      return folderRefusal;
    }
  }
  return {};
}

}  // namespace corvane::platform::emulated
