// The emulated registry's per-process state (RegistryState.h): made on first
// use, kept across fork, and the test hooks that only set or read it.
#include "platform/emulated/RegistryState.h"

#include <pthread.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "platform/emulated/TestHooks.h"

namespace corvane::platform::emulated {
namespace {

// A connection must not cross fork: both processes would drive the same
// SQLite locks. The parent drops it (reconnecting at its next call) before
// the child exists; the lock is held across fork so that no call is half
// done in the child.
void BeforeFork() {
  Registry& r = State();
  r.mutex.lock();
  r.store.Disconnect();
}
void AfterFork() { State().mutex.unlock(); }

}  // namespace

bool ReadOnlyRequested() {
  const char* flag = std::getenv("CORVANE_REGISTRY_READONLY");
  return flag != nullptr && std::string_view(flag) == "1";
}

Registry& State() {
  static Registry* registry = [] {
    auto* r = new Registry;
    r->readOnly = ReadOnlyRequested();
    r->view.onRebind = [r] {
      r->handles.clear();
      r->denials.clear();
      r->classesRoot.list = {};
    };
    pthread_atfork(BeforeFork, AfterFork, AfterFork);
    return r;
  }();
  return *registry;
}

std::function<void()> TakeSizeQueryHook() {
  RegistryLock r;
  return std::exchange(r->afterSizeQuery, nullptr);
}

void ResetRegistry() {
  RegistryLock r;
  r->handles.clear();
  r->denials.clear();
  r->readOnly = ReadOnlyRequested();
  r->view.Write([&] { return r->view.Reset(); });
}

void ClearDenials() {
  RegistryLock r;
  r->denials.clear();
}

std::size_t FlushCount() {
  RegistryLock r;
  return r->flushes;
}

void FailNextFlush(LONG status) {
  RegistryLock r;
  r->failNextFlush = status;
}

void AfterNextSizeQuery(std::function<void()> action) {
  RegistryLock r;
  r->afterSizeQuery = std::move(action);
}

std::size_t OpenHandleCount() {
  RegistryLock r;
  return r->handles.size();
}

std::string StorePath() {
  RegistryLock r;
  bool reopened = false;
  r->store.Bind(reopened);
  return r->store.Path();
}

}  // namespace corvane::platform::emulated
