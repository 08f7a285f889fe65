// Change notifications (Notify.h) and RegNotifyChangeKeyValue.
#include "platform/emulated/calls/Notify.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "platform/emulated/calls/Events.h"
#include "platform/emulated/calls/RegistryKeys.h"
#include "platform/emulated/store/ChangeWatch.h"

namespace corvane::platform::emulated {
namespace {

constexpr DWORD kKinds = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                         REG_NOTIFY_CHANGE_LAST_SET;
constexpr DWORD kFilters =
    kKinds | REG_NOTIFY_CHANGE_SECURITY | REG_NOTIFY_THREAD_AGNOSTIC;

// A synchronous call, until its registration fires. It sleeps on the
// change memory's futex itself and delivers what it is woken for, so that
// a change reaches it without a hop through the watcher thread. Guarded by
// the registry lock.
struct Sleeper {
  bool fired = false;
};

// A handle's watch: made by its first call and kept until the handle is
// closed, as Windows keeps it (later calls arm it again, and their filter
// and subtree flag are ignored).
struct Registration {
  HKEY handle = 0;  // without the classes tag
  // Waiting for a change; false once it fired, until the next call.
  bool armed = true;
  std::int64_t id = 0;
  bool subtree = false;
  DWORD filter = 0;
  // The counter when it was made: commits after it are what it watches.
  std::uint64_t since = 0;
  // What is signalled: the caller's event (held, as Windows holds it, even
  // when the caller closes its handle), or a synchronous caller.
  std::shared_ptr<Event> event;
  std::shared_ptr<Sleeper> sleeper;
  std::thread::id thread;
};

struct Notifications {
  // The forks counted when they were made: a forked child starts with none.
  unsigned forks = 0;
  std::vector<Registration> registrations;
  // The watcher thread of the current generation runs; one of an older
  // generation (another store) ends at its next wake.
  bool running = false;
  std::uint64_t generation = 0;
  std::string path;
  // The current generation's watch, shared with the thread.
  std::shared_ptr<ChangeWatch> watch;
  // Moves each time an event's registration is armed: the watcher, with
  // none armed, sleeps on it (a futex of this process) instead of on the
  // change memory, so that a commit wakes synchronous callers alone.
  std::atomic<std::uint32_t> eventsArmed{0};
  // Counts the times every registration was ended at once (the handles
  // forgotten), which a read of the view can do.
  std::uint64_t forgotten = 0;
};

// Counts forks, so that a child finds out it is one without a system call
// on every handle it closes.
std::atomic<unsigned> forks{0};

// Guarded by the registry lock; never destroyed, as the registry isn't.
Notifications& Notes() {
  static auto* notes = [] {
    pthread_atfork(nullptr, nullptr,
                   [] { forks.fetch_add(1, std::memory_order_relaxed); });
    return new Notifications;
  }();
  const unsigned forked = forks.load(std::memory_order_relaxed);
  if (notes->forks != forked) {
    notes->forks = forked;
    notes->registrations.clear();
    notes->running = false;
    notes->watch.reset();
    ++notes->generation;
  }
  return *notes;
}

// `wake`: a synchronous caller sleeps on the counter's futex, and is woken
// there (other sleepers on it find nothing new and sleep again); one fired
// for a commit was woken by that commit already.
void Signal(const Registration& registration, bool wake) {
  if (registration.sleeper) {
    registration.sleeper->fired = true;
    if (const auto& watch = Notes().watch; watch && wake) watch->WakeAll();
  }
  if (registration.event) SignalEvent(*registration.event);
}

// Signals an armed registration, which is then done until the next call.
void Spend(Registration& r, bool wake = true) {
  if (!r.armed) return;
  Signal(r, wake);
  r.armed = false;
  r.event.reset();
  r.sleeper.reset();
}

// Signals the armed registrations `which` picks.
template <class Which>
void Fire(Notifications& notes, Which&& which) {
  for (Registration& r : notes.registrations) {
    if (r.armed && which(r)) Spend(r);
  }
}

bool AnyArmed(const Notifications& notes, bool eventsOnly) {
  for (const Registration& r : notes.registrations) {
    if (r.armed && (!eventsOnly || !r.sleeper)) return true;
  }
  return false;
}

std::uint32_t* Word(std::atomic<std::uint32_t>& word) {
  static_assert(sizeof word == sizeof(std::uint32_t));
  return reinterpret_cast<std::uint32_t*>(&word);
}

// An event's registration was armed: the watcher sleeping on
// eventsArmed looks again.
void WakeWatcher(Notifications& notes) {
  notes.eventsArmed.fetch_add(1, std::memory_order_release);
  syscall(SYS_futex, Word(notes.eventsArmed), FUTEX_WAKE_PRIVATE, 1, nullptr,
          nullptr, 0);
}

bool KeyGone(Registry& registry, std::int64_t id) {
  CachedKey* key = nullptr;
  return Read(registry, [&] { return registry.view.Key(id, key); }) ==
         ERROR_KEY_DELETED;
}

// Whether the key `id` is `top` or lies below it. A key deleted since is
// placed by the commit that deleted it (`parents`); one that can't be
// placed at all counts as below, a notification too many.
bool Below(Registry& registry, std::int64_t id, std::int64_t top,
           const std::map<std::int64_t, std::int64_t>& parents) {
  bool below = false;
  const LONG status = Read(registry, [&] {
    below = false;
    std::int64_t at = id;
    for (std::size_t depth = 0; at != 0 && depth <= kMaxTreeDepth + 1;
         ++depth) {
      if (at == top) {
        below = true;
        return ERROR_SUCCESS;
      }
      CachedKey* key = nullptr;
      const LONG found = registry.view.Key(at, key);
      if (found == ERROR_KEY_DELETED) {
        const auto parent = parents.find(at);
        if (parent == parents.end()) {
          below = true;
          return ERROR_SUCCESS;
        }
        at = parent->second;
        continue;
      }
      if (found != ERROR_SUCCESS) return found;
      at = key->parent;
    }
    return ERROR_SUCCESS;
  });
  return status != ERROR_SUCCESS || below;
}

using Changes = std::vector<ChangeWatch::Change>;

bool Matches(Registry& registry, const Registration& r,
             const Changes& changes) {
  if (changes.empty()) return false;
  const std::uint8_t kinds = static_cast<std::uint8_t>(r.filter & kKinds);
  // The deleted keys of these commits, each with the parent its commit
  // named beside it.
  std::map<std::int64_t, std::int64_t> parents;
  for (const ChangeWatch::Change& change : changes) {
    for (const SharedChanges::Place& place : change.places) {
      if ((place.kinds & SharedChanges::kDeleted) == 0) continue;
      for (const SharedChanges::Place& other : change.places) {
        if (other.id != place.id) parents[place.id] = other.id;
      }
    }
  }
  for (const ChangeWatch::Change& change : changes) {
    if ((change.anywhere & kinds) != 0) return true;
    for (const SharedChanges::Place& place : change.places) {
      if (place.id == r.id && (place.kinds & SharedChanges::kDeleted) != 0) {
        return true;
      }
      if ((place.kinds & kinds) == 0) continue;
      if (place.id == r.id) return true;
      if (r.subtree && Below(registry, place.id, r.id, parents)) return true;
    }
  }
  // Deleted with a tree above it, by a commit that named only the tree.
  return KeyGone(registry, r.id);
}

// Fires the registrations the commits up to `now` concern; the others
// watch from `now` on. The watcher thread leaves synchronous callers'
// (`sleepers` false) to the callers, each woken by the commit itself.
void Deliver(Registry& registry, Notifications& notes, const ChangeWatch& watch,
             std::uint64_t now, bool sleepers) {
  // Registrations made at the same value share the walk of the ring.
  std::map<std::uint64_t, std::pair<bool, Changes>> walks;
  const std::uint64_t forgotten = notes.forgotten;
  auto& list = notes.registrations;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (!list[i].armed || list[i].since >= now) continue;
    if (!sleepers && list[i].sleeper) continue;
    // A copy: a read of the view that finds the store rebound forgets
    // every registration.
    const Registration r = list[i];
    auto [walk, added] = walks.try_emplace(r.since);
    if (added) {
      walk->second.first = watch.Changes(r.since, now, walk->second.second);
    }
    // An overrun ring can't tell: every registration fires.
    const bool fire =
        !walk->second.first || Matches(registry, r, walk->second.second);
    if (notes.forgotten != forgotten) return;
    if (fire) {
      Spend(list[i], false);
    } else {
      list[i].since = now;
    }
  }
}

// How long a watcher sleeps before looking again without being woken: a
// commit of a build that doesn't wake waiters, or an odd counter whose
// writer may have died, is caught then. Without a waiter's slot, writers
// don't know to wake this process, and it looks sooner.
constexpr auto kBackstop = std::chrono::milliseconds(1000);
constexpr auto kUnregistered = std::chrono::milliseconds(20);
constexpr auto kOddWait = std::chrono::milliseconds(10);
// An odd counter this long is a writer that died between commit and
// counter: its commit is delivered all the same.
constexpr auto kOddLimit = std::chrono::milliseconds(100);
// Idle rounds before the thread ends: a caller re-arming right after a
// notification finds it still there.
constexpr int kIdleRounds = 2;

// Whether commits up to the counter value `now` can be delivered: an even
// value, or an odd one seen for longer than kOddLimit.
class OddWatch {
 public:
  bool Settled(std::uint64_t now) {
    if ((now & 1) == 0) return true;
    const auto clock = std::chrono::steady_clock::now();
    if (now != lastOdd_) {
      lastOdd_ = now;
      oddSince_ = clock;
    }
    return clock - oddSince_ > kOddLimit;
  }

 private:
  std::uint64_t lastOdd_ = 0;
  std::chrono::steady_clock::time_point oddSince_;
};

// How long to sleep on the counter's futex after seeing `now`.
std::chrono::milliseconds SleepAfter(const ChangeWatch& watch,
                                     std::uint64_t now) {
  return (now & 1) != 0       ? kOddWait
         : watch.Registered() ? kBackstop
                              : kUnregistered;
}

void Watcher(std::shared_ptr<ChangeWatch> watch, std::uint64_t generation) {
  OddWatch odd;
  int idle = 0;
  for (;;) {
    std::uint64_t now = 0;
    bool events = false;
    std::uint32_t armed = 0;
    {
      RegistryLock registry;
      Notifications& notes = Notes();
      if (notes.generation != generation) break;
      events = AnyArmed(notes, true);
      armed = notes.eventsArmed.load(std::memory_order_acquire);
      if (!AnyArmed(notes, false)) {
        if (++idle > kIdleRounds) {
          notes.running = false;
          notes.watch.reset();
          break;
        }
      } else {
        idle = 0;
      }
      now = watch->Value();
      if (events && odd.Settled(now)) {
        Deliver(*registry, notes, *watch, now, false);
      }
    }
    if (events) {
      watch->Wait(now, SleepAfter(*watch, now));
    } else {
      const timespec limit{
          std::chrono::duration_cast<std::chrono::seconds>(kBackstop).count(),
          0};
      syscall(SYS_futex, Word(Notes().eventsArmed), FUTEX_WAIT_PRIVATE, armed,
              &limit, nullptr, 0);
    }
  }
}

// Starts the watcher of the bound store unless it runs.
LONG StartWatcher(Registry& registry, Notifications& notes) {
  const std::string& path = registry.store.Path();
  if (notes.running && notes.path == path) return ERROR_SUCCESS;
  auto watch = std::make_shared<ChangeWatch>();
  if (!watch->Open(path)) return ERROR_REGISTRY_IO_FAILED;
  notes.watch = watch;
  ++notes.generation;
  notes.path = path;
  notes.running = true;
  std::thread(Watcher, std::move(watch), notes.generation).detach();
  return ERROR_SUCCESS;
}

// Ends, signalled, the registrations a thread made without
// REG_NOTIFY_THREAD_AGNOSTIC, when it exits.
struct ThreadRegistrations {
  bool any = false;
  ~ThreadRegistrations() {
    if (!any) return;
    const std::thread::id self = std::this_thread::get_id();
    RegistryLock registry;
    Fire(Notes(), [self](const Registration& r) { return r.thread == self; });
  }
};
thread_local ThreadRegistrations threadRegistrations;

LONG Register(Registry& registry, HKEY hKey, bool subtree, DWORD filter,
              HANDLE hEvent, std::shared_ptr<Sleeper> sleeper) {
  // The change memory exists once the store's file does: a fresh registry
  // makes it now, as its first write would.
  if (registry.view.NotMadeYet()) {
    Write(registry, [] { return ERROR_SUCCESS; });
  }
  Target target;
  if (const LONG status = Read(registry, [&] {
        return Resolve(registry, hKey, KEY_NOTIFY, target);
      })) {
    return status;
  }
  std::shared_ptr<Event> event;
  if (hEvent != nullptr) {
    LONG status = ERROR_SUCCESS;
    event = ReferenceEvent(hEvent, EVENT_MODIFY_STATE, &status);
    if (event == nullptr) return status;
  }
  Notifications& notes = Notes();
  if (const LONG status = StartWatcher(registry, notes)) return status;
  const HKEY handle = IsRoot(hKey) ? hKey : hKey & ~kTagBits;
  for (Registration& r : notes.registrations) {
    if (r.handle != handle) continue;
    // The handle's first filter and subtree flag stay; what is signalled
    // is the latest caller's. Spent, it watches again from now.
    if (!r.armed) {
      r.armed = true;
      r.since = registry.view.Stamp();
    }
    r.event = std::move(event);
    r.sleeper = std::move(sleeper);
    if ((r.filter & REG_NOTIFY_THREAD_AGNOSTIC) == 0) {
      r.thread = std::this_thread::get_id();
      threadRegistrations.any = true;
    }
    if (r.event) WakeWatcher(notes);
    return ERROR_SUCCESS;
  }
  Registration r;
  r.handle = handle;
  r.id = target.key->id;
  r.subtree = subtree;
  r.filter = filter;
  r.since = registry.view.Stamp();
  r.event = std::move(event);
  r.sleeper = std::move(sleeper);
  if ((filter & REG_NOTIFY_THREAD_AGNOSTIC) == 0) {
    r.thread = std::this_thread::get_id();
    threadRegistrations.any = true;
  }
  const bool woken = r.event != nullptr;
  notes.registrations.push_back(std::move(r));
  if (woken) WakeWatcher(notes);
  return ERROR_SUCCESS;
}

}  // namespace

void NotifyClosed(Registry& registry, HKEY handle) {
  (void)registry;
  auto& list = Notes().registrations;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->handle != handle) continue;
    Spend(*it);
    list.erase(it);
    return;
  }
}

void NotifyForgetAll(Registry& registry) {
  (void)registry;
  Notifications& notes = Notes();
  ++notes.forgotten;
  Fire(notes, [](const Registration&) { return true; });
  notes.registrations.clear();
}

}  // namespace corvane::platform::emulated

namespace corvane::platform {

LONG RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree,
                             DWORD dwNotifyFilter, PVOID hEvent,
                             BOOL fAsynchronous) {
  using namespace emulated;
  if ((dwNotifyFilter & ~kFilters) != 0) return ERROR_INVALID_PARAMETER;
  if (fAsynchronous && hEvent == nullptr) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Sleeper> sleeper;
  if (!fAsynchronous) sleeper = std::make_shared<Sleeper>();
  {
    RegistryLock registry;
    if (const LONG status =
            Register(*registry, hKey, bWatchSubtree != 0, dwNotifyFilter,
                     fAsynchronous ? hEvent : nullptr, sleeper)) {
      return status;
    }
  }
  // As long as it takes, as on Windows.
  OddWatch odd;
  while (sleeper) {
    std::shared_ptr<ChangeWatch> watch;
    std::uint64_t now = 0;
    {
      RegistryLock registry;
      Notifications& notes = Notes();
      // Without a watch (the process forked since) nothing can fire it.
      if (sleeper->fired || !notes.watch) break;
      watch = notes.watch;
      now = watch->Value();
      if (odd.Settled(now)) Deliver(*registry, notes, *watch, now, true);
      if (sleeper->fired) break;
    }
    watch->Wait(now, SleepAfter(*watch, now));
  }
  return ERROR_SUCCESS;
}

}  // namespace corvane::platform
