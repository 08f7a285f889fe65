// The layout of the store's shared change memory (<store>-changes), which
// every process of the store maps: the change counter, the writers' turn,
// a ring of what each recent commit changed (and the value it set, when
// that is all it did), and the waiters for change notifications.
// ChangeCounter and ChangeWatch work on it.
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
  // 1: counter, turn and ring as below. The notices, waiters, latest
  // values and early tags after the ring are zeros to a process of a
  // build without them, which reads them as "any kind of change", "nobody
  // waits" and "not told": no new layout. (Such a process's commits tell no
  // latest value.)
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

  // Places one notice names; a commit that changed more wakes every watch.
  static constexpr std::size_t kPlaces = 4;
  // Processes that can wait for changes at once; others wait with a time
  // limit instead (see ChangeWatch).
  static constexpr std::size_t kWaiters = 64;

  // What kind of change one commit made where, for change notifications,
  // at notices[(odd >> 1) % kRecords] beside its record. `tag` is the odd
  // counter value of its commit (0 while being written; another value: the
  // commit's writer wrote no notice, and its record's keys changed in any
  // way). `kinds[i]` holds the REG_NOTIFY_CHANGE_* bits of the change at
  // key `places[i]`, and kDeleted when that key itself was deleted;
  // `count` is kAllPlaces when the commit changed too much to name, and
  // kinds[0] then holds the kinds of its changes.
  struct Notice {
    std::uint64_t tag;
    std::uint32_t count;
    std::uint8_t kinds[kPlaces];
    std::int64_t places[kPlaces];
  };
  static constexpr std::uint8_t kDeleted = 0x80;
  static constexpr std::uint32_t kAllPlaces = ~std::uint32_t{0};

  // A key a notice names, and the kinds of change made there.
  struct Place {
    std::int64_t id;
    std::uint8_t kinds;
  };

  // A process whose watcher waits for changes: its pid, 0 when free.
  struct Waiter {
    std::int32_t pid;
    std::uint32_t unused;
  };

  // The most a value set may hold to be told whole, beside its commit's
  // record: name units and data bytes, and the highest creation order a
  // new value told has.
  static constexpr std::size_t kLatestName = 32;
  static constexpr std::size_t kLatestData = 64;
  static constexpr std::int64_t kLatestOrd = 0xFFFFFFFF;

  // A commit that did nothing but set one value, told whole at
  // latest[(odd >> 1) % kRecords] beside its record, so that a view that
  // holds the key's values takes it without asking the store. `tag` is the
  // commit's odd counter value, stored once the commit landed; any other
  // value: not told. `ord` 0: an existing value set again; otherwise a new
  // value, of that creation order.
  struct Latest {
    std::uint64_t tag;
    std::int64_t key;
    std::uint64_t lastWrite;
    std::uint32_t type;
    std::uint32_t nameUnits;
    std::uint32_t dataBytes;
    std::uint32_t ord;
    char16_t name[kLatestName];
    unsigned char data[kLatestData];
  };

  // The counter: a waiter sleeps on a futex on its low 32 bits (offset 0
  // on the little-endian machines the emulation runs on).
  std::uint64_t counter;
  std::uint32_t layout;
  std::uint32_t ready;
  // Robust and shared between processes: a writer waits here, and is woken
  // when the writer before it is done, instead of polling SQLite's lock.
  pthread_mutex_t turn;
  Record records[kRecords];
  Notice notices[kRecords];
  // Bit i: waiters[i] is taken. A writer wakes the futex only when a bit
  // is set, and clears the bits of waiters whose process is gone.
  std::uint64_t waiting;
  Waiter waiters[kWaiters];
  Latest latest[kRecords];
  // The odd counter value of a commit whose value set is at latest[]
  // beside its record before the commit lands (whose `tag` is stored only
  // once it landed), or anything else. A reader that finds that commit
  // landed in the store's log, with the counter still at it, takes it from
  // there (see View::TakeLanded).
  std::uint64_t early[kRecords];
};

static_assert(offsetof(SharedChanges, counter) == 0);
static_assert(offsetof(SharedChanges, layout) == 8);
static_assert(offsetof(SharedChanges, ready) == 12);
static_assert(sizeof(SharedChanges::Record) == 64);
static_assert(sizeof(SharedChanges::Notice) == 48);
static_assert(SharedChanges::kWaiters == 64, "one bit word of waiters");
static_assert(sizeof(SharedChanges::Latest) == 168);
static_assert(offsetof(SharedChanges, latest) == 29248, "as documented");
static_assert(offsetof(SharedChanges, early) == 72256, "as documented");

}  // namespace corvane::platform::emulated
