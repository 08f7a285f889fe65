// Making a store's file whole at once (BuildAside.h).
#include "platform/emulated/store/BuildAside.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/emulated/store/Connection.h"
#include "platform/emulated/store/Schema.h"
#include "platform/emulated/store/StorePaths.h"
#include "platform/emulated/system/SystemCalls.h"

namespace corvane::platform::emulated {
namespace {

void SyncFolder(const std::string& file) {
  const SystemCalls& sys = System();
  const std::string folder = std::filesystem::path(file).parent_path().string();
  const int fd = sys.open(folder.empty() ? "." : folder.c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;
  sys.fsync(fd);
  sys.close(fd);
}

// Stores being built beside `db` by processes that died before they were
// done, and the logs SQLite may leave beside them.
void DropAbandonedBuilds(const std::string& db) {
  const std::filesystem::path path(db);
  std::error_code ec;
  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : ".";
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const pid_t pid = BuildingOwner(db, entry.path().filename().string());
    if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) {
      System().unlink(entry.path().c_str());
    }
  }
}

}  // namespace

Aside BuildAside(const std::string& db, const std::string& boot,
                 const std::function<bool(Rows&)>& fill) {
  const SystemCalls& sys = System();
  const std::string aside = BuildingPath(db, getpid());
  DropAbandonedBuilds(db);
  sys.unlink(aside.c_str());
  bool synced = false;
  {
    Connection builder;
    builder.Aim(aside);
    Rows rows(builder, boot);
    bool built = builder.OpenAside() == ERROR_SUCCESS &&
                 schema::CreateAside(builder, boot) == ERROR_SUCCESS;
    // Kept open until SQLite has closed the file (closing a descriptor of
    // a file drops every lock the process holds on it): the build starts
    // its pages' way to the disk through it, and it syncs them at the end.
    const int fd =
        built ? sys.open(aside.c_str(), O_RDONLY | O_CLOEXEC, 0) : -1;
    builder.WriteBackThrough(fd);
    built = built && fill(rows) && rows.SaveLastKeyId() == ERROR_SUCCESS &&
            schema::FinishAside(builder) == ERROR_SUCCESS;
    builder.Close();
    // On disk before it takes the name, and the name on disk after.
    synced = built && fd >= 0 && sys.fsync(fd) == 0;
    if (fd >= 0) sys.close(fd);
    if (!built) {
      sys.unlink(aside.c_str());
      return Aside::kNotBuilt;
    }
  }
  // link, unlike rename, never replaces a store another process made.
  const bool placed = synced && sys.link(aside.c_str(), db.c_str()) == 0;
  sys.unlink(aside.c_str());
  if (!placed) return Aside::kNotPlaced;
  SyncFolder(db);
  return Aside::kPlaced;
}

}  // namespace corvane::platform::emulated
