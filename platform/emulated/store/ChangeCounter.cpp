// The store's change memory (ChangeCounter.h).
#include "platform/emulated/store/ChangeCounter.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <climits>
#include <ctime>
#include <system_error>
#include <thread>

#include "platform/emulated/store/StorePaths.h"
#include "platform/emulated/system/SystemCalls.h"

namespace corvane::platform::emulated {
namespace {

template <class T>
std::atomic_ref<T> Shared(T& field) {
  return std::atomic_ref<T>(field);
}

// Where a commit's record, notice, latest value and early tag are kept.
std::size_t SlotOf(std::uint64_t odd) {
  return (odd >> 1) % SharedChanges::kRecords;
}

// How long a process waits for another to finish setting up new change
// memory (a few system calls) before it takes that over.
constexpr auto kSetUpWait = std::chrono::seconds(1);

// Counts forks, so that a child tells the turn its parent held from one of
// its own without a system call per write.
std::atomic<unsigned> forks{0};

unsigned Forks() {
  static const bool counting = [] {
    pthread_atfork(nullptr, nullptr,
                   [] { forks.fetch_add(1, std::memory_order_relaxed); });
    return true;
  }();
  (void)counting;
  return forks.load(std::memory_order_relaxed);
}

// The notice of a commit: what `changes` noted, or, when its writer noted
// nothing, its keys (all of them when it named none) changed in any way.
void WriteNotice(SharedChanges::Notice& notice, const ChangeSet& changes,
                 std::uint64_t odd) {
  constexpr std::uint8_t kAny = 0xFF;
  Shared(notice.tag).store(0, std::memory_order_relaxed);
  std::uint32_t count = SharedChanges::kAllPlaces;
  std::uint8_t everywhere = changes.NoticeAll();
  const auto& places = changes.Places();
  if (everywhere == 0 && places.empty()) {
    if (changes.IsEverything()) {
      everywhere = kAny;
    } else {
      const auto& ids = changes.Ids();
      count = 0;
      for (std::size_t i = 0; i < ids.size() && i < SharedChanges::kPlaces;
           ++i, ++count) {
        Shared(notice.kinds[i]).store(kAny, std::memory_order_release);
        Shared(notice.places[i]).store(ids[i], std::memory_order_release);
      }
      if (ids.size() > SharedChanges::kPlaces) {
        count = SharedChanges::kAllPlaces;
        everywhere = kAny;
      }
    }
  } else if (everywhere == 0) {
    count = 0;
    for (const SharedChanges::Place& place : places) {
      Shared(notice.kinds[count]).store(place.kinds, std::memory_order_release);
      Shared(notice.places[count]).store(place.id, std::memory_order_release);
      ++count;
    }
  }
  if (count == (SharedChanges::kAllPlaces)) {
    Shared(notice.kinds[0]).store(everywhere, std::memory_order_release);
  }
  Shared(notice.count).store(count, std::memory_order_release);
  Shared(notice.tag).store(odd, std::memory_order_release);
}

// Waiters whose process is gone: their bit first, so that a process taking
// a freed slot sets its own bit after this one was cleared.
void SweepWaiters(SharedChanges& shared) {
  std::uint64_t bits = Shared(shared.waiting).load(std::memory_order_acquire);
  for (std::size_t i = 0; bits != 0; ++i, bits >>= 1) {
    if ((bits & 1) == 0) continue;
    std::int32_t pid =
        Shared(shared.waiters[i].pid).load(std::memory_order_acquire);
    if (pid == 0 || kill(pid, 0) == 0 || errno != ESRCH) continue;
    Shared(shared.waiting)
        .fetch_and(~(std::uint64_t{1} << i), std::memory_order_acq_rel);
    Shared(shared.waiters[i].pid)
        .compare_exchange_strong(pid, 0, std::memory_order_acq_rel);
  }
}

}  // namespace

void WakeWaiters(SharedChanges& shared) {
  // Nobody waits: one load, and no system call.
  const std::uint64_t waiting =
      Shared(shared.waiting).load(std::memory_order_seq_cst);
  if (waiting == 0) return;
  const long woken =
      syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&shared.counter),
              FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
  // Fewer woken than marked: some are awake already, or gone.
  if (woken < std::popcount(waiting)) SweepWaiters(shared);
}

LONG ChangeCounter::Map(bool create) {
  if (shared_ != nullptr) return ERROR_SUCCESS;
  const SystemCalls& sys = System();
  const std::string path = ChangesPath(connection_.Path());
  const int fd =
      sys.open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  if (fd < 0) {
    return create ? connection_.Fail(
                        SQLITE_CANTOPEN,
                        path + ": " + std::generic_category().message(errno))
                  : ERROR_SUCCESS;
  }
  // Zeros past the end: the counter of an 8-byte file keeps its value, and
  // the rest is set up below.
  struct stat st;
  if (sys.fstat(fd, &st) != 0 ||
      (st.st_size < static_cast<off_t>(sizeof(SharedChanges)) &&
       sys.ftruncate(fd, sizeof(SharedChanges)) != 0)) {
    sys.close(fd);
    return create ? connection_.Fail(SQLITE_IOERR, path + ": can't be sized")
                  : ERROR_SUCCESS;
  }
  void* map = sys.mmap(nullptr, sizeof(SharedChanges), PROT_READ | PROT_WRITE,
                       MAP_SHARED, fd, 0);
  sys.close(fd);
  if (map == MAP_FAILED) {
    return create ? connection_.Fail(SQLITE_IOERR, path + ": can't be mapped")
                  : ERROR_SUCCESS;
  }
  shared_ = static_cast<SharedChanges*>(map);

  const auto newer = [&] {
    const std::uint32_t layout =
        Shared(shared_->layout).load(std::memory_order_acquire);
    if (layout <= SharedChanges::kLayout) return false;
    Unmap();
    connection_.Fail(SQLITE_NOTADB,
                     "made by a newer Corvane (change memory layout " +
                         std::to_string(layout) + "; this one reads " +
                         std::to_string(SharedChanges::kLayout) + ")");
    return true;
  };
  if (newer()) return ERROR_BADDB;
  const auto giveUp = std::chrono::steady_clock::now() + kSetUpWait;
  for (;;) {
    std::uint32_t state =
        Shared(shared_->ready).load(std::memory_order_acquire);
    if (state == SharedChanges::kReady) break;
    if (state == 0 &&
        Shared(shared_->ready)
            .compare_exchange_strong(state, SharedChanges::kSettingUp,
                                     std::memory_order_acq_rel)) {
      SetUp();
      break;
    }
    if (newer()) return ERROR_BADDB;
    if (std::chrono::steady_clock::now() > giveUp) {
      // Whoever began died before it was done.
      SetUp();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return newer() ? ERROR_BADDB : ERROR_SUCCESS;
}

void ChangeCounter::SetUp() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  // A second lock by the same thread is refused, not a hang.
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
  pthread_mutex_init(&shared_->turn, &attributes);
  pthread_mutexattr_destroy(&attributes);
  Shared(shared_->layout)
      .store(SharedChanges::kLayout, std::memory_order_relaxed);
  Shared(shared_->ready)
      .store(SharedChanges::kReady, std::memory_order_release);
}

void ChangeCounter::Unmap() {
  GiveTurn();
  if (shared_ != nullptr) System().munmap(shared_, sizeof(SharedChanges));
  shared_ = nullptr;
}

std::uint64_t ChangeCounter::BeforeCommit(const ChangeSet& changes) {
  auto counter = Shared(shared_->counter);
  const std::uint64_t before = counter.load(std::memory_order_acquire);
  const std::uint64_t odd = (before | 1) + 2;
  SharedChanges::Record& record = shared_->records[SlotOf(odd)];
  // A reader that read any of what follows sees the tag change too: each
  // store releases the ones before it (no fences, which ThreadSanitizer
  // can't follow).
  Shared(record.tag).store(0, std::memory_order_relaxed);
  const auto& ids = changes.Ids();
  Shared(record.before).store(before, std::memory_order_release);
  Shared(record.count)
      .store(changes.IsEverything() ? SharedChanges::kEverything : ids.size(),
             std::memory_order_release);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    Shared(record.ids[i]).store(ids[i], std::memory_order_release);
  }
  // Complete before the record's tag is: a reader that finds the record
  // tagged finds its notice too.
  WriteNotice(shared_->notices[SlotOf(odd)], changes, odd);
  Shared(record.tag).store(odd, std::memory_order_release);
  counter.store(odd, std::memory_order_seq_cst);
  return odd;
}

std::uint64_t ChangeCounter::AfterCommit(std::uint64_t odd) {
  std::uint64_t expected = odd;
  // Fails only when another process, holding the lock after this commit,
  // already made it even.
  Shared(shared_->counter)
      .compare_exchange_strong(expected, odd + 1, std::memory_order_seq_cst);
  WakeWaiters(*shared_);
  return odd + 1;
}

namespace {

// A value told at `latest`, as it reads now; false when it can't be one.
// The caller checks the tags around it.
bool ReadLatest(SharedChanges::Latest& latest, ChangeSet::ValueSet& value) {
  value.key = Shared(latest.key).load(std::memory_order_acquire);
  value.lastWrite = Shared(latest.lastWrite).load(std::memory_order_acquire);
  value.type = Shared(latest.type).load(std::memory_order_acquire);
  const std::uint32_t units =
      Shared(latest.nameUnits).load(std::memory_order_acquire);
  const std::uint32_t bytes =
      Shared(latest.dataBytes).load(std::memory_order_acquire);
  value.ord = Shared(latest.ord).load(std::memory_order_acquire);
  if (units > SharedChanges::kLatestName ||
      bytes > SharedChanges::kLatestData) {
    return false;
  }
  value.name.clear();
  value.data.clear();
  for (std::uint32_t i = 0; i < units; ++i) {
    value.name.push_back(
        Shared(latest.name[i]).load(std::memory_order_acquire));
  }
  for (std::uint32_t i = 0; i < bytes; ++i) {
    value.data.push_back(
        Shared(latest.data[i]).load(std::memory_order_acquire));
  }
  return true;
}

}  // namespace

void ChangeCounter::TellEarly(std::uint64_t odd, const ChangeSet& changes) {
  const ChangeSet::ValueSet* value = changes.SoleValueSet();
  if (shared_ == nullptr || value == nullptr ||
      !ChangeSet::Tellable(value->name, value->data.size(), value->ord)) {
    return;
  }
  const std::size_t slot = SlotOf(odd);
  SharedChanges::Latest& latest = shared_->latest[slot];
  // Each store releases the ones before it; the early tag, last, says they
  // are this commit's.
  Shared(latest.tag).store(0, std::memory_order_relaxed);
  Shared(shared_->early[slot]).store(0, std::memory_order_relaxed);
  Shared(latest.key).store(value->key, std::memory_order_release);
  Shared(latest.lastWrite).store(value->lastWrite, std::memory_order_release);
  Shared(latest.type).store(value->type, std::memory_order_release);
  Shared(latest.nameUnits)
      .store(static_cast<std::uint32_t>(value->name.size()),
             std::memory_order_release);
  Shared(latest.dataBytes)
      .store(static_cast<std::uint32_t>(value->data.size()),
             std::memory_order_release);
  Shared(latest.ord)
      .store(static_cast<std::uint32_t>(value->ord), std::memory_order_release);
  for (std::size_t i = 0; i < value->name.size(); ++i) {
    Shared(latest.name[i]).store(value->name[i], std::memory_order_release);
  }
  for (std::size_t i = 0; i < value->data.size(); ++i) {
    Shared(latest.data[i]).store(value->data[i], std::memory_order_release);
  }
  Shared(shared_->early[slot]).store(odd, std::memory_order_release);
}

void ChangeCounter::Tell(std::uint64_t odd) {
  if (shared_ == nullptr) return;
  const std::size_t slot = SlotOf(odd);
  if (Shared(shared_->early[slot]).load(std::memory_order_relaxed) == odd) {
    Shared(shared_->latest[slot].tag).store(odd, std::memory_order_release);
  }
}

void ChangeCounter::Untell(std::uint64_t odd) {
  if (shared_ == nullptr) return;
  std::uint64_t early = odd;
  Shared(shared_->early[SlotOf(odd)])
      .compare_exchange_strong(early, 0, std::memory_order_acq_rel);
}

bool ChangeCounter::ToldEarly(std::uint64_t from, std::uint64_t odd,
                              ChangeSet::ValueSet& value) const {
  if (shared_ == nullptr || connection_.InMemory() || (odd & 1) == 0) {
    return false;
  }
  const std::size_t slot = SlotOf(odd);
  SharedChanges::Record& record = shared_->records[slot];
  auto early = Shared(shared_->early[slot]);
  if (Shared(record.tag).load(std::memory_order_acquire) != odd ||
      early.load(std::memory_order_acquire) != odd ||
      Shared(record.before).load(std::memory_order_acquire) != from) {
    return false;
  }
  if (!ReadLatest(shared_->latest[slot], value)) return false;
  // Unchanged since the tags were read: what was read is this commit's.
  return early.load(std::memory_order_relaxed) == odd &&
         Shared(record.tag).load(std::memory_order_relaxed) == odd;
}

bool ChangeCounter::Told(std::uint64_t from, std::uint64_t to,
                         std::vector<ChangeSet::ValueSet>& values) const {
  if (shared_ == nullptr || connection_.InMemory() || to < from) {
    return false;
  }
  if (to == from && (to & 1) == 0) return true;
  // Back one commit at a time from the last, named by its odd value: each
  // even value is the one after a commit's, and each record names the
  // value its commit started from.
  std::uint64_t odd = (to & 1) != 0 ? to : to - 1;
  for (std::size_t steps = 0;; ++steps) {
    if (odd < from || steps == SharedChanges::kRecords) return false;
    const std::size_t slot = SlotOf(odd);
    SharedChanges::Record& record = shared_->records[slot];
    SharedChanges::Latest& latest = shared_->latest[slot];
    if (Shared(record.tag).load(std::memory_order_acquire) != odd ||
        Shared(latest.tag).load(std::memory_order_acquire) != odd) {
      return false;
    }
    const std::uint64_t before =
        Shared(record.before).load(std::memory_order_acquire);
    ChangeSet::ValueSet value;
    if (!ReadLatest(latest, value)) return false;
    // Unchanged since the tags were read: what was read is this commit's.
    if (Shared(latest.tag).load(std::memory_order_relaxed) != odd ||
        Shared(record.tag).load(std::memory_order_relaxed) != odd) {
      return false;
    }
    values.push_back(std::move(value));
    if (odd == from || (before == from && (from & 1) == 0)) break;
    // A commit before whose writer died under way told nothing.
    if ((before & 1) != 0 || before < from) return false;
    odd = before - 1;
  }
  std::reverse(values.begin(), values.end());
  return true;
}

void ChangeCounter::Settle(std::uint64_t odd) {
  if (shared_ == nullptr || TakeTurn(false) != ERROR_SUCCESS) return;
  if (!connection_.TryWriteLock()) {
    GiveTurn();
    return;
  }
  // Holding the write lock, no commit is under way: an odd counter is one a
  // writer left when it died between its commit and the counter's update.
  // Whether that commit landed is unknown: what it told early is not taken.
  Untell(odd);
  std::uint64_t expected = odd;
  if (Shared(shared_->counter)
          .compare_exchange_strong(expected, odd + 1,
                                   std::memory_order_seq_cst)) {
    WakeWaiters(*shared_);
  }
  connection_.Rollback();
  GiveTurn();
}

bool ChangeCounter::Changed(std::uint64_t from, std::uint64_t to,
                            std::vector<std::int64_t>& ids) const {
  if (shared_ == nullptr || connection_.InMemory() || to < from) {
    return false;
  }
  // Back from `to`, one commit at a time: each record names the value its
  // commit started from. An odd `from` is a commit that was under way, and
  // may have landed since: back to where it started, through its own record
  // (even when `to` is the same odd value).
  const auto read = [this](std::uint64_t odd, std::uint64_t& before,
                           std::vector<std::int64_t>* ids) {
    SharedChanges::Record& r = shared_->records[SlotOf(odd)];
    if (Shared(r.tag).load(std::memory_order_acquire) != odd) return false;
    // Each load acquires, so the tag is read again after all of them.
    before = Shared(r.before).load(std::memory_order_acquire);
    const std::uint64_t count = Shared(r.count).load(std::memory_order_acquire);
    if (count > SharedChanges::kIds) return false;
    for (std::uint64_t i = 0; ids != nullptr && i < count; ++i) {
      ids->push_back(Shared(r.ids[i]).load(std::memory_order_acquire));
    }
    // Unchanged since the tag was read: what was read is this commit's.
    return Shared(r.tag).load(std::memory_order_relaxed) == odd;
  };
  if ((from & 1) != 0 && !read(from, from, nullptr)) return false;
  std::size_t steps = 0;
  for (std::uint64_t at = to; at != from; ++steps) {
    if (at < from || steps == SharedChanges::kRecords) return false;
    const std::uint64_t odd = (at & 1) != 0 ? at : at - 1;
    std::uint64_t before = 0;
    if (!read(odd, before, &ids)) return false;
    at = before;
  }
  return true;
}

LONG ChangeCounter::TakeTurn(bool wait) {
  if (shared_ == nullptr || holding_) return ERROR_SUCCESS;
  // Free most of the time: no clock or limit to look up then.
  int rc = pthread_mutex_trylock(&shared_->turn);
  if (rc == EBUSY && wait) {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    const long limit = Connection::WaitLimit();
    until.tv_sec += limit / 1000;
    until.tv_nsec += (limit % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
      until.tv_sec += 1;
      until.tv_nsec -= 1000000000L;
    }
    rc = pthread_mutex_clocklock(&shared_->turn, CLOCK_MONOTONIC, &until);
  }
  if (rc == EOWNERDEAD) {
    // Its holder died: SQLite rolls back whatever it left unfinished.
    pthread_mutex_consistent(&shared_->turn);
    rc = 0;
  }
  if (rc == 0) {
    holding_ = true;
    holder_ = Forks();
    return ERROR_SUCCESS;
  }
  if (rc == ETIMEDOUT || rc == EBUSY) return ERROR_REGISTRY_IO_FAILED;
  // A turn that can't be had (not recoverable): SQLite's lock decides.
  return ERROR_SUCCESS;
}

void ChangeCounter::GiveTurn() {
  if (!holding_) return;
  holding_ = false;
  // A forked child's copy of the flag: the turn is its parent's.
  if (holder_ == Forks() && shared_ != nullptr) {
    pthread_mutex_unlock(&shared_->turn);
  }
}

}  // namespace corvane::platform::emulated
