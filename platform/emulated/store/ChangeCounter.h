// The store's change counter: 8 bytes in a small shared-memory file beside
// the database (ChangesPath) that lets each process keep a local view of
// the database and know, without asking SQLite, whether that view is still
// current.
//
// A writer makes it odd before its commit and even again after
// (compare-and-swap), so a commit is always bracketed by two changes. A view
// whose counter is even and unchanged is current; an odd counter means a
// write is under way or its writer died between commit and counter update,
// and views must not trust their cache until it is even again: any process
// holding the write lock can settle it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "platform/emulated/store/Connection.h"

namespace corvane::platform::emulated {

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

  // Maps the counter of the connection's database. A reader without the
  // counter file caches nothing; a writer (`create`) needs it, and fails the
  // connection without it.
  LONG Map(bool create);
  void Unmap();
  bool Mapped() const { return shared_ != nullptr; }

  std::uint64_t Value() const {
    if (connection_.InMemory()) return kInMemory;
    if (shared_ == nullptr) return kNone;
    return std::atomic_ref<std::uint64_t>(*shared_).load(
        std::memory_order_acquire);
  }

  // Around a commit, with the write lock held: odd while it is under way,
  // even after. BeforeCommit's value goes to AfterCommit, which gives the
  // value the commit left.
  std::uint64_t BeforeCommit();
  std::uint64_t AfterCommit(std::uint64_t odd);

  // An odd value seen again and again: if no write is under way, its
  // writer died after committing; make it even so views can cache again.
  void Settle(std::uint64_t odd);

 private:
  Connection& connection_;
  std::uint64_t* shared_ = nullptr;
};

}  // namespace corvane::platform::emulated
