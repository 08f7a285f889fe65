// Who may do what to a key: the rights a handle is granted when it is
// opened, and the rights a key refuses to anyone (the tests' ACL entries,
// every write right below HKEY_LOCAL_MACHINE for a process without
// elevation, and every write right in a store this process can't write).
// Calls through a handle then check the handle's rights only.
#pragma once

#include "platform/Platform.h"
#include "platform/emulated/calls/CallHooks.h"
#include "platform/emulated/calls/RegistryState.h"
#include "platform/emulated/view/View.h"

namespace corvane::platform::emulated {

// The rights `key` refuses to anyone: KeyRefuses, through the test seam.
inline LONG Refused(Registry& registry, CachedKey* key, REGSAM& refused) {
  return Hooks().refused(registry, key, refused);
}

// What a handle to `key` opened with `sam` carries: the generic rights
// expanded, MAXIMUM_ALLOWED as all the key allows; ERROR_ACCESS_DENIED when
// the key refuses one of the rights asked for.
LONG Grant(Registry& registry, CachedKey* key, REGSAM sam, REGSAM& granted);

}  // namespace corvane::platform::emulated
