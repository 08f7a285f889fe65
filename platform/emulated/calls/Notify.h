// Change notifications (RegNotifyChangeKeyValue): this process's
// registrations, one per handle, and the watcher thread that matches them
// against what every process's commits changed (ChangeWatch), without
// asking the store. The registry lock guards all of it.
//
// A handle's registration keeps the filter and subtree flag of its first
// call until the handle is closed, as on Windows; each call arms it for one
// notification. It fires on a matching change at its key (or, with the
// subtree, below it), its key deleted, its handle closed, or the end of the
// thread that armed it (unless REG_NOTIFY_THREAD_AGNOSTIC). A commit the
// ring can no longer tell about (the watcher fell more than a ring behind)
// fires every armed registration: a notification too many, never one too
// few.
#pragma once

#include "platform/Platform.h"
#include "platform/emulated/calls/RegistryState.h"

namespace corvane::platform::emulated {

// Ends the registration of a handle being closed, signalling it.
void NotifyClosed(Registry& registry, HKEY handle);
// Ends every registration, signalling each: the handles are forgotten.
void NotifyForgetAll(Registry& registry);

}  // namespace corvane::platform::emulated
