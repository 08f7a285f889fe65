// The store's change memory: a small shared-memory file beside the database
// (ChangesPath, laid out as SharedChanges) that lets each process keep a
// local view of the database and know, without asking SQLite, whether that
// view is still current and what in it is not; and that hands the write
// lock from one writer to the next.
//
// The counter: a writer makes it odd before its commit and even again after
// (compare-and-swap), so a commit is always bracketed by two changes. A view
// whose counter is even and unchanged is current; an odd counter means a
// write is under way or its writer died between commit and counter update,
// and views must not trust their cache until it is even again: any process
// holding the write lock can settle it.
//
// The ring: each commit records the keys it changed under its odd value,
// and the value it started from, before the counter is even again. A view
// that cached the state at one even value can follow the records back from
// the current one and drop only those keys; a record overwritten, missing
// (a commit of a build without the ring) or naming too much means it drops
// everything.
//
// The waiters: processes waiting for change notifications (ChangeWatch)
// sleep on a futex on the counter; a writer wakes them after its commit,
// only when one is marked waiting, and frees the slots of dead ones.
//
// The turn: a robust mutex that writers take before SQLite's write lock and
// give back after their commit, so that the next one is woken at once
// instead of polling. SQLite's lock stays the authority; a holder that dies
// passes the turn on (the kernel reports it), one that stops makes the
// others give up after the wait limit.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/store/ChangeSet.h"
#include "platform/emulated/store/Connection.h"
#include "platform/emulated/store/SharedChanges.h"

namespace corvane::platform::emulated {

// Wakes the processes waiting for the counter to change, if any.
void WakeWaiters(SharedChanges& shared);

class ChangeCounter {
 public:
  // The value of a registry that exists only in memory (no store file
  // yet): even, so that a view trusts it, and out of the range a file's
  // counter reaches.
  static constexpr std::uint64_t kInMemory = 0x8000000000000000ull;
  // Odd: no counter to go by, so nothing cached is trusted.
  static constexpr std::uint64_t kNone = 1;

  explicit ChangeCounter(Connection& connection) : connection_(connection) {}
  ~ChangeCounter() { Unmap(); }
  ChangeCounter(const ChangeCounter&) = delete;
  ChangeCounter& operator=(const ChangeCounter&) = delete;

  // Maps the change memory of the connection's database, setting it up (or
  // growing the 8-byte file of the first layout) when it is new. A reader
  // without the file caches nothing; a writer (`create`) needs it, and
  // fails the connection without it. A file of a newer layout fails the
  // connection either way.
  LONG Map(bool create);
  // Gives back the turn if this process holds it.
  void Unmap();
  bool Mapped() const { return shared_ != nullptr; }

  std::uint64_t Value() const {
    if (connection_.InMemory()) return kInMemory;
    if (shared_ == nullptr) return kNone;
    return std::atomic_ref<std::uint64_t>(shared_->counter)
        .load(std::memory_order_acquire);
  }

  // Around a commit, with the write lock held: odd while it is under way,
  // even after. BeforeCommit records `changes` and gives the odd value to
  // AfterCommit, which gives the value the commit left.
  std::uint64_t BeforeCommit(const ChangeSet& changes);
  // A commit that may have changed anything.
  std::uint64_t BeforeCommit() {
    ChangeSet everything;
    everything.Everything();
    return BeforeCommit(everything);
  }
  std::uint64_t AfterCommit(std::uint64_t odd);
  // Before the commit of `odd`: the value it sets, when that is all
  // `changes` holds and it is small enough, told early (see
  // SharedChanges::early). Once it landed, before AfterCommit, Tell tells
  // it to everyone; a commit that failed takes it back with Untell.
  void TellEarly(std::uint64_t odd, const ChangeSet& changes);
  void Tell(std::uint64_t odd);
  void Untell(std::uint64_t odd);
  // The value the commit `odd`, under way and started from `from`, told
  // early; false when it told none. Only a caller that knows the commit
  // landed may take it.
  bool ToldEarly(std::uint64_t from, std::uint64_t odd,
                 ChangeSet::ValueSet& value) const;

  // An odd value seen again and again: if no write is under way, its
  // writer died after committing; make it even so views can cache again.
  void Settle(std::uint64_t odd);

  // The keys the commits from value `from` to value `to` changed, added to
  // `ids`; false when the ring can't tell (then everything may have
  // changed). An odd value is a commit under way (or whose writer died):
  // what it changes is counted in from either end.
  bool Changed(std::uint64_t from, std::uint64_t to,
               std::vector<std::int64_t>& ids) const;
  // The values the commits from value `from` to value `to` set, oldest
  // first; false unless every one of them told its value. An odd `to` is a
  // commit under way, told once it landed: the values lead to the state it
  // makes, `to` + 1. An odd `from` is a commit that was under way when a
  // cache was loaded, which may have landed then or not: its value is told
  // again.
  bool Told(std::uint64_t from, std::uint64_t to,
            std::vector<ChangeSet::ValueSet>& values) const;

  // The writers' turn, before SQLite's write lock: waits up to the wait
  // limit (or not at all), then ERROR_REGISTRY_IO_FAILED. Without the
  // change memory there is no turn to take, and SQLite's lock decides alone.
  LONG TakeTurn(bool wait);
  void GiveTurn();

 private:
  void SetUp();

  Connection& connection_;
  SharedChanges* shared_ = nullptr;
  bool holding_ = false;
  // Forks this process had seen when it took the turn: a forked child's
  // copy of `holding_` is its parent's turn, not its own.
  unsigned holder_ = 0;
};

}  // namespace corvane::platform::emulated
