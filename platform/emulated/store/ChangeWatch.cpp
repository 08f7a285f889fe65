// A process's watch on the store's change memory (ChangeWatch.h).
#include "platform/emulated/store/ChangeWatch.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <ctime>

#include "platform/emulated/store/StorePaths.h"

namespace corvane::platform::emulated {
namespace {

template <class T>
std::atomic_ref<T> Shared(T& field) {
  return std::atomic_ref<T>(field);
}

// Any kind of change, the deletion of the key included: what a commit
// whose writer noted nothing may have made.
constexpr std::uint8_t kAny = 0xFF;

}  // namespace

bool ChangeWatch::Open(const std::string& db) {
  Close();
  const std::string path = ChangesPath(db);
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  // A file of the first layout is grown as ChangeCounter::Map grows it.
  struct stat st;
  if (fstat(fd, &st) != 0 ||
      (st.st_size < static_cast<off_t>(sizeof(SharedChanges)) &&
       ftruncate(fd, sizeof(SharedChanges)) != 0)) {
    close(fd);
    return false;
  }
  void* map = mmap(nullptr, sizeof(SharedChanges), PROT_READ | PROT_WRITE,
                   MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return false;
  shared_ = static_cast<SharedChanges*>(map);
  if (Shared(shared_->ready).load(std::memory_order_acquire) !=
          SharedChanges::kReady ||
      Shared(shared_->layout).load(std::memory_order_acquire) !=
          SharedChanges::kLayout) {
    Close();
    return false;
  }
  const std::int32_t pid = getpid();
  for (std::size_t i = 0; i < SharedChanges::kWaiters; ++i) {
    std::int32_t free = 0;
    if (Shared(shared_->waiters[i].pid)
            .compare_exchange_strong(free, pid, std::memory_order_acq_rel)) {
      slot_ = static_cast<int>(i);
      // Before the counter is next read (seq_cst on both sides): a writer
      // that commits after that read sees the bit and wakes this process.
      Shared(shared_->waiting)
          .fetch_or(std::uint64_t{1} << i, std::memory_order_seq_cst);
      break;
    }
  }
  return true;
}

void ChangeWatch::Close() {
  if (shared_ == nullptr) return;
  // A forked child inherits the mapping and the slot number, not the slot:
  // the slot stays its parent's.
  if (slot_ >= 0 &&
      Shared(shared_->waiters[slot_].pid).load(std::memory_order_acquire) ==
          getpid()) {
    Shared(shared_->waiting)
        .fetch_and(~(std::uint64_t{1} << slot_), std::memory_order_acq_rel);
    Shared(shared_->waiters[slot_].pid).store(0, std::memory_order_release);
  }
  slot_ = -1;
  munmap(shared_, sizeof(SharedChanges));
  shared_ = nullptr;
}

std::uint64_t ChangeWatch::Value() const {
  return Shared(shared_->counter).load(std::memory_order_seq_cst);
}

void ChangeWatch::Wait(std::uint64_t value,
                       std::chrono::milliseconds limit) const {
  timespec timeout{};
  timeout.tv_sec = limit.count() / 1000;
  timeout.tv_nsec = (limit.count() % 1000) * 1000000L;
  // Returns at once when the low half already moved on; a wake between
  // reading `value` and here changed it.
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&shared_->counter),
          FUTEX_WAIT, static_cast<std::uint32_t>(value), &timeout, nullptr, 0);
}

void ChangeWatch::WakeAll() const {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&shared_->counter),
          FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

bool ChangeWatch::Changes(std::uint64_t from, std::uint64_t to,
                          std::vector<Change>& changes) const {
  if (to < from) return false;
  // One commit, by its odd value: its notice, or its record's keys when
  // its writer wrote no notice. Tags are read again after the rest, as in
  // ChangeCounter::Changed: unchanged, what was read is this commit's.
  const auto read = [this](std::uint64_t odd, std::uint64_t& before,
                           Change* change) {
    const std::size_t at = (odd >> 1) % SharedChanges::kRecords;
    SharedChanges::Record& r = shared_->records[at];
    SharedChanges::Notice& n = shared_->notices[at];
    if (Shared(r.tag).load(std::memory_order_acquire) != odd) return false;
    before = Shared(r.before).load(std::memory_order_acquire);
    if (change == nullptr) {
      return Shared(r.tag).load(std::memory_order_acquire) == odd;
    }
    if (Shared(n.tag).load(std::memory_order_acquire) == odd) {
      const std::uint32_t count =
          Shared(n.count).load(std::memory_order_acquire);
      if (count > SharedChanges::kPlaces) {
        change->anywhere = Shared(n.kinds[0]).load(std::memory_order_acquire);
      }
      for (std::uint32_t i = 0; i < count && count <= SharedChanges::kPlaces;
           ++i) {
        change->places.push_back(
            {Shared(n.places[i]).load(std::memory_order_acquire),
             Shared(n.kinds[i]).load(std::memory_order_acquire)});
      }
      if (Shared(n.tag).load(std::memory_order_acquire) != odd) return false;
    } else {
      const std::uint64_t count =
          Shared(r.count).load(std::memory_order_acquire);
      if (count > SharedChanges::kIds) change->anywhere = kAny;
      for (std::uint64_t i = 0; i < count && count <= SharedChanges::kIds;
           ++i) {
        change->places.push_back(
            {Shared(r.ids[i]).load(std::memory_order_acquire), kAny});
      }
    }
    return Shared(r.tag).load(std::memory_order_acquire) == odd;
  };
  if ((from & 1) != 0) {
    // The commit under way at `from` may have landed after it was read.
    if (!read(from, from, nullptr)) return false;
  }
  std::size_t steps = 0;
  for (std::uint64_t at = to; at != from; ++steps) {
    if (at < from || steps == SharedChanges::kRecords) return false;
    const std::uint64_t odd = (at & 1) != 0 ? at : at - 1;
    Change change;
    std::uint64_t before = 0;
    if (!read(odd, before, &change)) return false;
    changes.push_back(std::move(change));
    at = before;
  }
  return true;
}

}  // namespace corvane::platform::emulated
