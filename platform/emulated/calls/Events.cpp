// The emulated KERNEL32 events: CreateEvent(Ex), OpenEvent, SetEvent,
// ResetEvent and the waits on them. Every event of the process shares one
// lock and one condition, so that a wait on several events wakes for any
// of them. Named events are shared within the process: "Local\" names the
// same object as no prefix, "Global\" is a namespace of its own, and names
// are case-sensitive, as Windows compares them.
#include "platform/emulated/calls/Events.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/emulated/calls/KernelHandles.h"

namespace corvane::platform::emulated {

class Event : public KernelObject {
 public:
  Event(bool manualReset, bool signalled, std::wstring name)
      : manualReset(manualReset), signalled(signalled), name(std::move(name)) {}
  ~Event() override;

  // Guarded by the events' lock.
  bool manualReset;
  bool signalled;
  // The key in the names' table; empty for an unnamed event.
  const std::wstring name;
};

namespace {

struct Events {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::wstring, std::weak_ptr<Event>> named;
};

// Never destroyed: an event may outlive static destruction in a handle.
Events& State() {
  static Events* events = new Events;
  return *events;
}

constexpr DWORD kEventQueryState = 0x0001;
constexpr DWORD kEventModifyState = 0x0002;
constexpr DWORD kSynchronize = 0x00100000;
constexpr DWORD kEventAllAccess = 0x001F0003;
constexpr DWORD kReadControl = 0x00020000;
constexpr DWORD kMaximumAllowed = 0x02000000;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kGenericExecute = 0x20000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kGenericRead = 0x80000000;

constexpr DWORD kCreateManualReset = 0x00000001;
constexpr DWORD kCreateInitialSet = 0x00000002;

constexpr DWORD kWaitObject0 = 0;
constexpr DWORD kWaitTimeout = 258;
constexpr DWORD kWaitFailed = 0xFFFFFFFF;
constexpr DWORD kInfinite = 0xFFFFFFFF;
constexpr DWORD kMaximumWaitObjects = 64;

// The pseudo-handles of the current process and thread: waitable, and
// never signalled while the caller runs.
bool IsPseudoHandle(HANDLE handle) {
  return handle == reinterpret_cast<HANDLE>(-1) ||
         handle == reinterpret_cast<HANDLE>(-2);
}

// Generic rights as the event type maps them.
DWORD MapRights(DWORD access) {
  if ((access & (kMaximumAllowed | kGenericAll)) != 0) return kEventAllAccess;
  DWORD rights = access & 0x0FFFFFFF & ~kMaximumAllowed;
  if ((access & kGenericRead) != 0) rights |= kReadControl | kEventQueryState;
  if ((access & kGenericWrite) != 0) rights |= kReadControl | kEventModifyState;
  if ((access & kGenericExecute) != 0) rights |= kReadControl | kSynchronize;
  return rights;
}

// The table key of `name`, or the status that refuses it: a name holding
// a backslash past a "Global\" or "Local\" prefix names a directory that
// does not exist.
LONG NameKey(std::wstring_view name, std::wstring& key) {
  constexpr std::wstring_view kGlobal = L"Global\\";
  constexpr std::wstring_view kLocal = L"Local\\";
  std::wstring_view space = L"L";
  if (name.starts_with(kGlobal)) {
    space = L"G";
    name.remove_prefix(kGlobal.size());
  } else if (name.starts_with(kLocal)) {
    name.remove_prefix(kLocal.size());
  }
  if (name.find(L'\\') != std::wstring_view::npos) return ERROR_PATH_NOT_FOUND;
  key.assign(space);
  key += L':';
  key += name;
  return ERROR_SUCCESS;
}

HANDLE Fail(LONG status) {
  SetLastError(static_cast<DWORD>(status));
  return nullptr;
}

HANDLE Create(LPCWSTR name, bool manualReset, bool initialState, DWORD access) {
  if (name == nullptr || *name == L'\0') {
    HANDLE handle = OpenKernelHandle(
        std::make_shared<Event>(manualReset, initialState, std::wstring()),
        access);
    SetLastError(ERROR_SUCCESS);
    return handle;
  }
  std::wstring key;
  if (const LONG status = NameKey(name, key); status != ERROR_SUCCESS) {
    return Fail(status);
  }
  std::shared_ptr<Event> event;
  bool existed = false;
  {
    Events& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    std::weak_ptr<Event>& slot = state.named[key];
    event = slot.lock();
    existed = event != nullptr;
    if (!existed) {
      event = std::make_shared<Event>(manualReset, initialState, key);
      slot = event;
    }
  }
  HANDLE handle = OpenKernelHandle(event, access);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE Open(DWORD access, LPCWSTR name) {
  if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::wstring key;
  if (const LONG status = NameKey(name, key); status != ERROR_SUCCESS) {
    return Fail(status);
  }
  std::shared_ptr<Event> event;
  {
    Events& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    const auto found = state.named.find(key);
    if (found != state.named.end()) event = found->second.lock();
  }
  if (event == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
  HANDLE handle = OpenKernelHandle(event, MapRights(access));
  SetLastError(ERROR_SUCCESS);
  return handle;
}

DWORD WaitFailed(LONG status) {
  SetLastError(static_cast<DWORD>(status));
  return kWaitFailed;
}

// Waits for one of `handles` (or, with `all`, every one at once) to be
// signalled, taking what an auto-reset event gives. A null entry stands for
// a pseudo-handle, which is never signalled.
DWORD Wait(const HANDLE* handles, DWORD count, bool all, DWORD milliseconds) {
  if (count == 0 || count > kMaximumWaitObjects || handles == nullptr) {
    return WaitFailed(ERROR_INVALID_PARAMETER);
  }
  // Declared before the lock, so that a last reference goes after it.
  std::vector<std::shared_ptr<Event>> events(count);
  for (DWORD i = 0; i < count; ++i) {
    if (IsPseudoHandle(handles[i])) continue;
    LONG status = ERROR_SUCCESS;
    events[i] = ReferenceEvent(handles[i], kSynchronize, &status);
    if (events[i] == nullptr) return WaitFailed(status);
    if (all) {
      for (DWORD j = 0; j < i; ++j) {
        if (events[j] == events[i]) return WaitFailed(ERROR_INVALID_PARAMETER);
      }
    }
  }
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(milliseconds);
  Events& state = State();
  std::unique_lock<std::mutex> lock(state.mutex);
  for (;;) {
    if (all) {
      bool every = true;
      for (const auto& event : events) {
        every = every && event != nullptr && event->signalled;
      }
      if (every) {
        for (const auto& event : events) {
          if (!event->manualReset) event->signalled = false;
        }
        return kWaitObject0;
      }
    } else {
      for (DWORD i = 0; i < count; ++i) {
        Event* event = events[i].get();
        if (event == nullptr || !event->signalled) continue;
        if (!event->manualReset) event->signalled = false;
        return kWaitObject0 + i;
      }
    }
    if (milliseconds == 0) return kWaitTimeout;
    if (milliseconds == kInfinite) {
      state.changed.wait(lock);
    } else if (state.changed.wait_until(lock, deadline) ==
               std::cv_status::timeout) {
      milliseconds = 0;  // one last look, then the timeout
    }
  }
}

}  // namespace

Event::~Event() {
  if (name.empty()) return;
  Events& state = State();
  const std::lock_guard<std::mutex> lock(state.mutex);
  const auto found = state.named.find(name);
  if (found != state.named.end() && found->second.expired()) {
    state.named.erase(found);
  }
}

std::shared_ptr<Event> ReferenceEvent(HANDLE handle, DWORD rights,
                                      LONG* status) {
  DWORD access = 0;
  std::shared_ptr<Event> event = FindKernelObject<Event>(handle, &access);
  LONG answer = ERROR_SUCCESS;
  if (event == nullptr) {
    answer = ERROR_INVALID_HANDLE;
  } else if ((access & rights) != rights) {
    answer = ERROR_ACCESS_DENIED;
    event = nullptr;
  }
  if (status != nullptr) *status = answer;
  return event;
}

namespace {

// The event SetEvent or ResetEvent may change, or null with the last error
// set.
std::shared_ptr<Event> ToModify(HANDLE handle) {
  LONG status = ERROR_SUCCESS;
  std::shared_ptr<Event> event =
      ReferenceEvent(handle, kEventModifyState, &status);
  if (event == nullptr) SetLastError(static_cast<DWORD>(status));
  return event;
}

}  // namespace

void SignalEvent(Event& event) {
  Events& state = State();
  {
    const std::lock_guard<std::mutex> lock(state.mutex);
    event.signalled = true;
  }
  state.changed.notify_all();
}

}  // namespace corvane::platform::emulated

namespace corvane::platform {

namespace e = emulated;

HANDLE CreateEventW(SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset,
                    BOOL bInitialState, LPCWSTR lpName) {
  static_cast<void>(lpEventAttributes);
  return e::Create(lpName, bManualReset != 0, bInitialState != 0,
                   e::kEventAllAccess);
}

HANDLE CreateEventA(SECURITY_ATTRIBUTES* lpEventAttributes, BOOL bManualReset,
                    BOOL bInitialState, LPCSTR lpName) {
  if (lpName == nullptr) {
    return CreateEventW(lpEventAttributes, bManualReset, bInitialState,
                        nullptr);
  }
  const std::wstring name = AnsiToWide(lpName);
  return CreateEventW(lpEventAttributes, bManualReset, bInitialState,
                      name.c_str());
}

HANDLE CreateEventExW(SECURITY_ATTRIBUTES* lpEventAttributes, LPCWSTR lpName,
                      DWORD dwFlags, DWORD dwDesiredAccess) {
  static_cast<void>(lpEventAttributes);
  if ((dwFlags & ~(e::kCreateManualReset | e::kCreateInitialSet)) != 0) {
    return e::Fail(ERROR_INVALID_PARAMETER);
  }
  return e::Create(lpName, (dwFlags & e::kCreateManualReset) != 0,
                   (dwFlags & e::kCreateInitialSet) != 0,
                   e::MapRights(dwDesiredAccess));
}

HANDLE CreateEventExA(SECURITY_ATTRIBUTES* lpEventAttributes, LPCSTR lpName,
                      DWORD dwFlags, DWORD dwDesiredAccess) {
  if (lpName == nullptr) {
    return CreateEventExW(lpEventAttributes, nullptr, dwFlags, dwDesiredAccess);
  }
  const std::wstring name = AnsiToWide(lpName);
  return CreateEventExW(lpEventAttributes, name.c_str(), dwFlags,
                        dwDesiredAccess);
}

HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  static_cast<void>(bInheritHandle);
  return e::Open(dwDesiredAccess, lpName);
}

HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  if (lpName == nullptr)
    return OpenEventW(dwDesiredAccess, bInheritHandle, nullptr);
  const std::wstring name = AnsiToWide(lpName);
  return OpenEventW(dwDesiredAccess, bInheritHandle, name.c_str());
}

BOOL SetEvent(HANDLE hEvent) {
  const std::shared_ptr<e::Event> event = e::ToModify(hEvent);
  if (event == nullptr) return 0;
  e::SignalEvent(*event);
  return 1;
}

BOOL ResetEvent(HANDLE hEvent) {
  const std::shared_ptr<e::Event> event = e::ToModify(hEvent);
  if (event == nullptr) return 0;
  const std::lock_guard<std::mutex> lock(e::State().mutex);
  event->signalled = false;
  return 1;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return e::Wait(&hHandle, 1, false, dwMilliseconds);
}

DWORD WaitForSingleObjectEx(HANDLE hHandle, DWORD dwMilliseconds,
                            BOOL bAlertable) {
  // No APCs are queued here, so an alertable wait is an ordinary one.
  static_cast<void>(bAlertable);
  return e::Wait(&hHandle, 1, false, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles,
                             BOOL bWaitAll, DWORD dwMilliseconds) {
  return e::Wait(lpHandles, nCount, bWaitAll != 0, dwMilliseconds);
}

DWORD WaitForMultipleObjectsEx(DWORD nCount, const HANDLE* lpHandles,
                               BOOL bWaitAll, DWORD dwMilliseconds,
                               BOOL bAlertable) {
  static_cast<void>(bAlertable);
  return e::Wait(lpHandles, nCount, bWaitAll != 0, dwMilliseconds);
}

}  // namespace corvane::platform
