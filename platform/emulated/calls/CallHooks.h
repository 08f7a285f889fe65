// The steps of the registry calls that tests reach into, through one table
// as the system calls are reached through SystemCalls: its entries are the
// real steps, and a test hook (TestHooks.h) swaps in a wrapper that counts,
// denies or acts around the real one. The calls themselves carry no test
// state and ask nothing about tests.
#pragma once

#include "platform/Platform.h"
#include "platform/emulated/calls/RegistryState.h"
#include "platform/emulated/view/View.h"

namespace corvane::platform::emulated {

struct CallHooks {
  // The rights `key` refuses to anyone (RegistryAccess.h). Registry locked.
  LONG (*refused)(Registry& registry, CachedKey* key, REGSAM& refused);
  // What the process forgets when its store is bound to another path or
  // reset. Registry locked.
  void (*forget)(Registry& registry);
  // RegFlushKey's work. Registry locked.
  LONG (*flushKey)(Registry& registry, HKEY hKey);
  // RegQueryValueExA asked for a size only (lpData null). Registry not
  // locked: the entry is read outside the lock, so a test sets it while no
  // other thread queries.
  LONG(*sizeQuery)
  (HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
   BYTE* lpData, DWORD* lpcbData);
};

// The table in use, replaced and put back with the registry locked.
// Constant-initialized: reaching an entry is one load, from the first call.
extern constinit CallHooks callHooks;
inline CallHooks& Hooks() { return callHooks; }
// The real steps.
const CallHooks& RealCallHooks();

// The real entries, each defined beside the call it serves.
LONG KeyRefuses(Registry& registry, CachedKey* key, REGSAM& refused);
LONG FlushKey(Registry& registry, HKEY hKey);
LONG QueryValueA(HKEY hKey, const char* lpValueName, DWORD* lpReserved,
                 DWORD* lpType, BYTE* lpData, DWORD* lpcbData);

}  // namespace corvane::platform::emulated
