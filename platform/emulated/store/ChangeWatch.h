// A process's watch on the store's change memory, for change notifications:
// its own mapping of the memory (so that it outlives no one's connection),
// a waiter's slot in it, a sleep on the counter's futex until a commit
// ends, and what kind of change the commits since a value made where.
//
// Its const functions may be used from any thread while it is open. Waiting
// holds no lock of the store's; no process waits for a watcher.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/emulated/store/SharedChanges.h"

namespace corvane::platform::emulated {

class ChangeWatch {
 public:
  ChangeWatch() = default;
  ~ChangeWatch() { Close(); }
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Maps the change memory beside the database `db` and takes a waiter's
  // slot. False when the memory can't be had (no file, or a layout this
  // build doesn't read).
  bool Open(const std::string& db);
  // Gives back the slot and the mapping.
  void Close();
  bool IsOpen() const { return shared_ != nullptr; }
  // Whether a waiter's slot was had: without one, writers don't know to
  // wake this process, and Wait's limit is all that ends a sleep.
  bool Registered() const { return slot_ >= 0; }

  std::uint64_t Value() const;
  // Sleeps until the counter no longer reads `value`, or `limit` passed.
  void Wait(std::uint64_t value, std::chrono::milliseconds limit) const;
  // Wakes every sleeper on the counter, in every process: each finds what
  // it waits for, or nothing new and sleeps again.
  void WakeAll() const;

  // One commit's changes: the kinds (REG_NOTIFY_CHANGE_* bits, and
  // SharedChanges::kDeleted) at each place, or `anywhere` the kinds of a
  // change that may be at any key.
  struct Change {
    std::uint8_t anywhere = 0;
    std::vector<SharedChanges::Place> places;
  };
  // The changes of the commits from value `from` to value `to`, added to
  // `changes`; false when the ring can't tell (overrun). An odd `from` is
  // a commit that was under way: it is counted in.
  bool Changes(std::uint64_t from, std::uint64_t to,
               std::vector<Change>& changes) const;

 private:
  SharedChanges* shared_ = nullptr;
  int slot_ = -1;
};

}  // namespace corvane::platform::emulated
