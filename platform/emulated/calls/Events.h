// The emulated event objects behind CreateEvent, SetEvent and the waits:
// what the registry's change notifications signal. An event lives while a
// handle or a holder of its reference (a pending notification) keeps it.
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace corvane::platform::emulated {

class Event;

// The event `handle` refers to, when it is an open event handle opened with
// every right in `rights`; null otherwise, with the status to answer in
// `status` (ERROR_INVALID_HANDLE, or ERROR_ACCESS_DENIED for a missing
// right).
std::shared_ptr<Event> ReferenceEvent(HANDLE handle, DWORD rights,
                                      LONG* status = nullptr);

// Sets `event` as SetEvent does: a manual-reset event stays signalled until
// reset; an auto-reset event releases one wait and is reset by it.
void SignalEvent(Event& event);

}  // namespace corvane::platform::emulated
