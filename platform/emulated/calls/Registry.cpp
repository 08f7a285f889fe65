// The emulated registry functions that carry no text: closing a handle,
// flushing, importing a .reg file in one transaction, and the store's
// health. The rest is split by what it does: RegistryState (the state and
// its lock), RegistryAccess (rights), RegistryKeys and ClassesView (keys by
// handle and path), RegistryWide (the wide functions, the core),
// RegistryAnsi (the ANSI functions over them) and RegistryGetValue.
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Platform.h"
#include "platform/emulated/calls/RegistryKeys.h"
#include "platform/emulated/calls/RegistryState.h"
#include "platform/emulated/import/StoreImport.h"

namespace corvane::platform {

using emulated::RegistryLock;

LONG RegCloseKey(HKEY hKey) {
  RegistryLock registry;
  if (const LONG status =
          emulated::Read(*registry, [] { return ERROR_SUCCESS; })) {
    return status;
  }
  if (emulated::IsRoot(hKey)) return ERROR_SUCCESS;
  return registry->handles.erase(hKey) != 0 ? ERROR_SUCCESS
                                            : ERROR_INVALID_HANDLE;
}

LONG RegFlushKey(HKEY hKey) {
  RegistryLock registry;
  ++registry->flushes;
  if (const LONG status =
          std::exchange(registry->failNextFlush, ERROR_SUCCESS)) {
    return status;
  }
  // One synced commit makes every earlier one durable too.
  return emulated::Write(
      *registry,
      [&] {
        emulated::Target target;
        if (const LONG status = emulated::Resolve(*registry, hKey, target)) {
          return status;
        }
        return registry->view.MarkFlush();
      },
      true);
}

std::string RegistryLoadError() {
  RegistryLock registry;
  emulated::Read(*registry, [] { return ERROR_SUCCESS; });
  return registry->view.Problem();
}

void DisableSqliteMemoryStatistics() {
  emulated::View::DisableMemoryStatistics();
}

std::string ImportRegFile(std::span<const std::uint8_t> bytes,
                          std::string_view fileName) {
  // The file is checked while it is applied (see ApplyRegFile): one with a
  // fault anywhere is rolled back, and its fault is what is reported.
  RegistryLock registry;
  std::string err;
  // A store without a file yet is made whole from the file: built aside, it
  // writes its pages once, where a write transaction writes them to the
  // log and then again into the database.
  if (emulated::Read(*registry, [] { return ERROR_SUCCESS; }) ==
          ERROR_SUCCESS &&
      registry->view.NotMadeYet()) {
    if (registry->view.BuildAside([&](emulated::Rows& aside) {
          err = emulated::ApplyRegFile(aside, bytes, fileName);
          return err.empty();
        })) {
      return {};
    }
    if (!err.empty()) return err;
    // Made meanwhile by another process, or not buildable here: applied as
    // to any store.
  }
  const LONG status = emulated::Write(*registry, [&] {
    err = registry->view.Bulk([&](emulated::Rows& rows) {
      return emulated::ApplyRegFile(rows, bytes, fileName);
    });
    return err.empty() ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
  });
  // Keys the import made or removed may sit anywhere in the cache.
  registry->view.Clear();
  if (!err.empty()) return err;
  if (status != ERROR_SUCCESS) {
    return registry->view.Problem().empty()
               ? std::string(fileName) +
                     ": the registry could not be written (error " +
                     std::to_string(status) + ")"
               : registry->view.Problem();
  }
  registry->view.Checkpoint();
  return {};
}

}  // namespace corvane::platform
