// The emulated registry's per-process state (RegistryState.h): made on first
// use, kept across fork, and the test hooks that only read or reset it.
#include "platform/emulated/calls/RegistryState.h"

#include <pthread.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/emulated/TestHooks.h"
#include "platform/emulated/calls/CallHooks.h"
#include "platform/emulated/calls/Notify.h"
#include "platform/emulated/import/HiveMigration.h"

namespace corvane::platform::emulated {
namespace {

// A connection must not cross fork: both processes would drive the same
// SQLite locks. The parent drops it (reconnecting at its next call) before
// the child exists; the lock is held across fork so that no call is half
// done in the child.
void BeforeFork() {
  Registry& registry = State();
  registry.mutex.lock();
  registry.view.Disconnect();
}
void AfterFork() { State().mutex.unlock(); }

}  // namespace

bool ReadOnlyRequested() {
  const char* flag = std::getenv("CORVANE_REGISTRY_READONLY");
  return flag != nullptr && std::string_view(flag) == "1";
}

REGSAM ProgramView() {
  const char* bits = std::getenv("CORVANE_REGISTRY_PROGRAM_BITS");
  if (bits != nullptr && std::string_view(bits) == "32") {
    return KEY_WOW64_32KEY;
  }
  if (bits != nullptr && std::string_view(bits) == "64") {
    return KEY_WOW64_64KEY;
  }
  return sizeof(void*) == 4 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

Registry& State() {
  static Registry* registry = [] {
    auto* registry = new Registry;
    registry->readOnly = ReadOnlyRequested();
    registry->programView = ProgramView();
    registry->view.migrate = MigrateHive;
    registry->view.onRebind = [registry] { Hooks().forget(*registry); };
    pthread_atfork(BeforeFork, AfterFork, AfterFork);
    return registry;
  }();
  return *registry;
}

void ForgetHandles(Registry& registry) {
  NotifyForgetAll(registry);
  // Read again with the store, so that a test can run as a program of the
  // other view.
  registry.programView = ProgramView();
  registry.handles.clear();
  registry.overrides.clear();
  registry.classesRoot.merged->list = {};
  registry.classesRoot.merged->values = {};
}

void ResetRegistry() {
  RegistryLock registry;
  Hooks().forget(*registry);
  registry->readOnly = ReadOnlyRequested();
  registry->programView = ProgramView();
  registry->view.Write([&] { return registry->view.Reset(); });
}

std::size_t OpenHandleCount() {
  RegistryLock registry;
  return registry->handles.size();
}

std::string StorePath() {
  RegistryLock registry;
  return registry->view.Locate();
}

}  // namespace corvane::platform::emulated
