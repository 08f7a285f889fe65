// The test hooks of TestHooks.h that reach into registry calls: each swaps a
// wrapper into the CallHooks table that denies, counts or acts and then
// runs the real step, and puts the real step back once its work is done
// (denials cleared or forgotten, the size-query action run); the flush
// counter stays for the process. What the wrappers keep is guarded by the
// registry's lock, as the entries are, except for the size-query action, which
// has its own.
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/Platform.h"
#include "platform/emulated/TestHooks.h"
#include "platform/emulated/calls/CallHooks.h"
#include "platform/emulated/calls/RegistryKeys.h"
#include "platform/emulated/calls/RegistryState.h"

namespace corvane::platform::emulated {
namespace {

// DenyAccess's entries by key id; ids name other keys once the store is
// another, so rebinding forgets them.
std::unordered_map<std::int64_t, REGSAM> denials;

LONG RefusedWithDenials(Registry& registry, CachedKey* key, REGSAM& refused) {
  if (const LONG status = RealCallHooks().refused(registry, key, refused)) {
    return status;
  }
  const auto it = denials.find(key->id);
  if (it != denials.end()) refused |= it->second;
  return ERROR_SUCCESS;
}

void ForgetDenials() {
  denials.clear();
  Hooks().refused = RealCallHooks().refused;
  Hooks().forget = RealCallHooks().forget;
}

void ForgetWithDenials(Registry& registry) {
  ForgetDenials();
  RealCallHooks().forget(registry);
}

std::size_t flushes = 0;
LONG failNextFlush = ERROR_SUCCESS;

LONG CountedFlush(Registry& registry, HKEY hKey) {
  ++flushes;
  if (const LONG status = std::exchange(failNextFlush, ERROR_SUCCESS)) {
    return status;
  }
  return RealCallHooks().flushKey(registry, hKey);
}

void CountFlushes() { Hooks().flushKey = CountedFlush; }

std::mutex sizeQueryMutex;
std::function<void()> afterSizeQuery;

LONG SizeQueryThenAct(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                      DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  const LONG status = RealCallHooks().sizeQuery(hKey, lpValueName, lpReserved,
                                                lpType, lpData, lpcbData);
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> lock(sizeQueryMutex);
    action = std::exchange(afterSizeQuery, nullptr);
    Hooks().sizeQuery = RealCallHooks().sizeQuery;
  }
  if (action) action();
  return status;
}

}  // namespace

void DenyAccess(HKEY root, const char* path, REGSAM rights) {
  RegistryLock registry;
  std::wstring wide;
  AnsiToWide(path != nullptr ? path : "", wide);
  const std::u16string name(wide.begin(), wide.end());
  Read(*registry, [&] {
    CachedKey* key = nullptr;
    if (const LONG status = FindKey(*registry, root, name, key)) return status;
    denials[key->id] |= rights;
    Hooks().refused = RefusedWithDenials;
    Hooks().forget = ForgetWithDenials;
    return ERROR_SUCCESS;
  });
}

void ClearDenials() {
  RegistryLock registry;
  ForgetDenials();
}

std::size_t FlushCount() {
  RegistryLock registry;
  CountFlushes();
  return flushes;
}

void FailNextFlush(LONG status) {
  RegistryLock registry;
  CountFlushes();
  failNextFlush = status;
}

void AfterNextSizeQuery(std::function<void()> action) {
  std::lock_guard<std::mutex> lock(sizeQueryMutex);
  afterSizeQuery = std::move(action);
  Hooks().sizeQuery = SizeQueryThenAct;
}

}  // namespace corvane::platform::emulated
