// The layout of the store's shared change memory (<store>-changes), which
// every process of the store maps: the change counter, the writers' turn,
// and a ring of what each recent commit changed. ChangeCounter works on it.
//
// The first 16 bytes keep their place in every layout: the counter (all an
// 8-byte file of the first layout holds), the layout's number and whether
// the rest has been set up. A file of a newer layout is refused.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace corvane::platform::emulated {

struct SharedChanges {
  // 1: counter, turn and ring as below.
  static constexpr std::uint32_t kLayout = 1;
  // Commits remembered: a view that fell further behind drops everything.
  static constexpr std::size_t kRecords = 256;
  // Keys one record names; a commit that changed more drops everything.
  static constexpr std::size_t kIds = 5;
  // A record's count when its commit changed too much to name.
  static constexpr std::uint64_t kEverything = ~std::uint64_t{0};

  // `ready` while being set up, by whichever process found it 0.
  static constexpr std::uint32_t kSettingUp = 1;
  static constexpr std::uint32_t kReady = 2;

  // What one commit changed, at records[(odd >> 1) % kRecords]. `tag` is the
  // odd counter value of its commit, 0 while the record is being written;
  // `before` the value the commit started from.
  struct Record {
    std::uint64_t tag;
    std::uint64_t before;
    std::uint64_t count;
    std::int64_t ids[kIds];
  };

  std::uint64_t counter;
  std::uint32_t layout;
  std::uint32_t ready;
  // Robust and shared between processes: a writer waits here, and is woken
  // when the writer before it is done, instead of polling SQLite's lock.
  pthread_mutex_t turn;
  Record records[kRecords];
};

static_assert(offsetof(SharedChanges, counter) == 0);
static_assert(offsetof(SharedChanges, layout) == 8);
static_assert(offsetof(SharedChanges, ready) == 12);
static_assert(sizeof(SharedChanges::Record) == 64);

}  // namespace corvane::platform::emulated
