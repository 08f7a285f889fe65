// The old hive's import into its store (HiveMigration.h): checked whole
// before the store is made, applied in one transaction, and noted in the
// store so that no process imports it twice.
#include "platform/emulated/import/HiveMigration.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <span>
#include <system_error>

#include "platform/emulated/import/StoreImport.h"
#include "platform/emulated/system/SystemCalls.h"
#include "regfile/RegFile.h"

namespace corvane::platform::emulated {
namespace {

// The store's note of the hive it was made from.
constexpr const char* kImportedNote = "imported";

std::string Reason(const std::string& path, int error) {
  return path + ": " + std::generic_category().message(error);
}

}  // namespace

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

LONG MigrateHive(Store& store, const std::string& hive) {
  std::string bytes;
  bool missing = false;
  if (std::string err = ReadHiveFile(hive, bytes, missing); !err.empty()) {
    store.Refuse(err);
    return ERROR_BADDB;
  }
  const std::span<const std::uint8_t> data(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  // Checked whole before the store is made, so that a hive that can't be
  // read leaves nothing behind.
  if (std::string err = regfile::CheckRegFile(data, hive); !err.empty()) {
    store.Refuse(err);
    return ERROR_BADDB;
  }
  // The first write makes the store's file.
  if (store.BeginWrite() != ERROR_SUCCESS) {
    if (store.Problem().empty()) {
      store.Refuse(store.Path() +
                   ": waiting for another process to set up the store "
                   "timed out");
    }
    return ERROR_BADDB;
  }
  // Another process may have imported it while this one waited.
  bool imported = false;
  if (const LONG status = store.rows().Noted(kImportedNote, imported)) {
    store.Rollback();
    return status;
  }
  if (!imported) {
    store.BulkCache(true);
    // The hive recorded the registry byte for byte, string data without
    // its NUL included.
    std::string err =
        ApplyRegFile(store.rows(), data, hive, regfile::HexStrings::kExact);
    store.BulkCache(false);
    if (err.empty() &&
        store.rows().Note(kImportedNote, hive) != ERROR_SUCCESS) {
      err = store.Path() + ": import not saved";
    }
    if (!err.empty()) {
      store.Rollback();
      store.Refuse(err);
      return ERROR_BADDB;
    }
  }
  std::uint64_t counter = 0;
  if (const LONG status = store.Commit(true, counter)) {
    if (store.Problem().empty())
      store.Refuse(store.Path() + ": import not saved");
    return ERROR_BADDB;
  }
  store.Checkpoint();
  return ERROR_SUCCESS;
}

}  // namespace corvane::platform::emulated
