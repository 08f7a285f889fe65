// The emulated registry functions that act on the store as a whole:
// flushing it, importing a .reg file in one transaction, and its health.
// The rest is split by what it does: RegistryState (the state and its
// lock), RegistryAccess (rights), RegistryKeys and MergedClasses (keys by
// handle and path, and closing handles), RegistryWide (the wide functions,
// the core), RegistryAnsi (the ANSI functions over them),
// RegistryGetValue, RegistryTrees (copies, renames, many values at once),
// RegistryShorthands (the functions Windows builds over the Ex ones), and
// CallHooks with RegistryTestHooks (the tests' seams).
#include <span>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/emulated/calls/CallHooks.h"
#include "platform/emulated/calls/RegistryHives.h"
#include "platform/emulated/calls/RegistryKeys.h"
#include "platform/emulated/calls/RegistryState.h"
#include "platform/emulated/import/StoreImport.h"

namespace corvane::platform {

using emulated::RegistryLock;

LONG RegFlushKey(HKEY hKey) {
  RegistryLock registry;
  return emulated::Hooks().flushKey(*registry, hKey);
}

namespace emulated {

LONG FlushKey(Registry& registry, HKEY hKey) {
  // One synced commit makes every earlier one durable too; a key of a
  // loaded hive also has its hive's file written.
  return Write(
      registry,
      [&] {
        Target target;
        if (const LONG status = Resolve(registry, hKey, target)) return status;
        if (const LONG status = registry.view.MarkFlush()) return status;
        return WriteBackHiveOf(registry, target.key->id);
      },
      true);
}

}  // namespace emulated

std::string RegistryLoadError() {
  RegistryLock registry;
  emulated::Read(*registry, [] { return ERROR_SUCCESS; });
  return registry->view.Problem();
}

std::string RegistryWriteError() {
  RegistryLock registry;
  emulated::Read(*registry, [] { return ERROR_SUCCESS; });
  return registry->view.Problem().empty() ? registry->view.Unwritable()
                                          : registry->view.Problem();
}

void DisableSqliteMemoryStatistics() {
  emulated::View::DisableMemoryStatistics();
}

std::string ImportRegFile(std::span<const std::uint8_t> bytes,
                          std::string_view fileName, REGSAM view) {
  // The file is checked while it is applied (see ApplyRegFile): one with a
  // fault anywhere is rolled back, and its fault is what is reported.
  RegistryLock registry;
  const bool view32 =
      emulated::CallView(*registry, view, nullptr) == KEY_WOW64_32KEY;
  std::string err;
  // A store without a file yet is made whole from the file: built aside, it
  // writes its pages once, where a write transaction writes them to the
  // log and then again into the database.
  if (emulated::Read(*registry, [] { return ERROR_SUCCESS; }) ==
          ERROR_SUCCESS &&
      registry->view.NotMadeYet()) {
    if (registry->view.BuildAside([&](emulated::Rows& aside) {
          err = emulated::ApplyRegFile(
              aside, bytes, fileName, regfile::HexStrings::kTerminated, view32);
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
      return emulated::ApplyRegFile(rows, bytes, fileName,
                                    regfile::HexStrings::kTerminated, view32);
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
