// The change memory, driven directly: the counter odd while a commit is
// under way and even after, the same value in every process's mapping, an
// odd value a dead writer left made even only by whoever can take the write
// lock; the ring that tells a view what changed, or that it can't tell; and
// the layout a file was made with; the notices a watcher reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "StoreOfItsOwn.h"
#include "platform/emulated/store/ChangeCounter.h"
#include "platform/emulated/store/ChangeWatch.h"
#include "platform/emulated/store/StorePaths.h"

namespace corvane::platform::emulated {
namespace {

using ChangeCounterTest = StoreOfItsOwn;

bool Odd(std::uint64_t value) { return (value & 1) != 0; }

TEST_F(ChangeCounterTest, OddWhileACommitIsUnderWayEvenAfterForEveryone) {
  Connection one, two;
  one.Aim(folder_.File("counted.db"));
  two.Aim(folder_.File("counted.db"));
  ChangeCounter first(one), second(two);
  // Nothing to go by yet: a reader without the file trusts nothing.
  EXPECT_EQ(second.Map(false), ERROR_SUCCESS);
  EXPECT_FALSE(second.Mapped());
  EXPECT_EQ(second.Value(), ChangeCounter::kNone);

  ASSERT_EQ(first.Map(true), ERROR_SUCCESS);
  ASSERT_EQ(second.Map(false), ERROR_SUCCESS);
  const std::uint64_t before = first.Value();
  EXPECT_FALSE(Odd(before));
  const std::uint64_t during = first.BeforeCommit();
  EXPECT_TRUE(Odd(during));
  EXPECT_EQ(second.Value(), during);
  const std::uint64_t after = first.AfterCommit(during);
  EXPECT_FALSE(Odd(after));
  EXPECT_GT(after, before);
  EXPECT_EQ(second.Value(), after);

  // Two commits never leave the same value behind.
  EXPECT_GT(first.AfterCommit(first.BeforeCommit()), after);
}

TEST_F(ChangeCounterTest, ACommitMovesItAndAWriteWithoutChangesDoesNot) {
  Store writer, reader;
  Bind(writer);
  // The in-memory stand-in: even, so a view may cache what it read.
  EXPECT_EQ(writer.counter().Value(), ChangeCounter::kInMemory);
  MakeKey(writer, u"Made");
  Bind(reader);
  const std::uint64_t made = reader.counter().Value();
  EXPECT_FALSE(Odd(made));
  EXPECT_EQ(writer.counter().Value(), made);

  std::uint64_t left = 0;
  ASSERT_EQ(writer.BeginWrite(), ERROR_SUCCESS);
  ASSERT_EQ(writer.Commit(false, left), ERROR_SUCCESS);
  EXPECT_EQ(left, made);
  EXPECT_EQ(reader.counter().Value(), made);

  MakeKey(writer, u"Another");
  EXPECT_GT(reader.counter().Value(), made);
  EXPECT_FALSE(Odd(reader.counter().Value()));
}

TEST_F(ChangeCounterTest, ADeadWritersOddValueIsSettledOnlyWithTheLock) {
  Store dead, writer, settler;
  Bind(dead);
  MakeKey(dead, u"Made");
  Bind(writer);
  Bind(settler);
  // A writer that died between its commit and the counter's update.
  const std::uint64_t odd = dead.counter().BeforeCommit();
  ASSERT_TRUE(Odd(odd));

  // While another holds the write lock, a commit may be under way: the
  // value stays as it is.
  ASSERT_EQ(writer.BeginWrite(), ERROR_SUCCESS);
  settler.counter().Settle(odd);
  EXPECT_EQ(settler.counter().Value(), odd);
  writer.Rollback();

  // A value seen before is not the one to settle.
  settler.counter().Settle(odd - 2);
  EXPECT_EQ(settler.counter().Value(), odd);

  settler.counter().Settle(odd);
  EXPECT_EQ(settler.counter().Value(), odd + 1);
  EXPECT_EQ(writer.counter().Value(), odd + 1);
  // The lock was only borrowed: a write goes through.
  MakeKey(writer, u"After");
  EXPECT_GT(settler.counter().Value(), odd + 1);
}

// One commit of `store` that names `ids` as changed (or everything); the
// counter value it left.
std::uint64_t CommitNaming(Store& store, const std::vector<std::int64_t>& ids,
                           bool everything = false) {
  std::uint64_t counter = 0;
  EXPECT_EQ(store.BeginWrite(), ERROR_SUCCESS);
  store.Changes().Clear();
  for (const std::int64_t id : ids) store.Changes().Add(id);
  if (everything) store.Changes().Everything();
  store.MarkWritten();
  EXPECT_EQ(store.Commit(false, counter), ERROR_SUCCESS);
  return counter;
}

TEST_F(ChangeCounterTest, TheRingTellsWhatChangedOrThatItCannot) {
  Store writer, reader;
  Bind(writer);
  MakeKey(writer, u"Made");
  Bind(reader);
  const ChangeCounter& ring = reader.counter();
  const auto changed = [&](std::uint64_t from, std::uint64_t to) {
    std::vector<std::int64_t> ids;
    if (!ring.Changed(from, to, ids)) return std::vector<std::int64_t>{-1};
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
  };
  using Ids = std::vector<std::int64_t>;
  const std::uint64_t start = reader.counter().Value();
  const std::uint64_t one = CommitNaming(writer, {7, 9});
  const std::uint64_t two = CommitNaming(writer, {9, 11});
  EXPECT_EQ(changed(start, start), Ids{});
  EXPECT_EQ(changed(start, one), (Ids{7, 9}));
  EXPECT_EQ(changed(one, two), (Ids{9, 11}));
  EXPECT_EQ(changed(start, two), (Ids{7, 9, 11}));
  // Odd values, and a state that was never reached from `from`.
  EXPECT_EQ(changed(start + 1, two), Ids{-1});
  EXPECT_EQ(changed(two, one), Ids{-1});
  EXPECT_EQ(changed(start + 2, two), Ids{-1});
  // A commit under way: its record is written before the counter is odd,
  // and counts from either end.
  ChangeSet pending;
  pending.Add(13);
  const std::uint64_t odd = writer.counter().BeforeCommit(pending);
  EXPECT_EQ(changed(two, odd), Ids{13});
  EXPECT_EQ(changed(odd, odd), Ids{13});
  const std::uint64_t settled = writer.counter().AfterCommit(odd);
  EXPECT_EQ(changed(odd, settled), Ids{13});
  EXPECT_EQ(changed(start, settled), (Ids{7, 9, 11, 13}));

  // More keys than a record names, or a change it can't name: everything.
  const Ids many{1, 2, 3, 4, 5, 6, 7};
  const std::uint64_t three = CommitNaming(writer, many);
  EXPECT_EQ(changed(two, three), Ids{-1});
  const std::uint64_t four = CommitNaming(writer, {}, true);
  EXPECT_EQ(changed(three, four), Ids{-1});
  // A write that names nothing (a bare store write) is everything too.
  std::uint64_t five = 0;
  ASSERT_EQ(writer.BeginWrite(), ERROR_SUCCESS);
  writer.MarkWritten();
  ASSERT_EQ(writer.Commit(false, five), ERROR_SUCCESS);
  EXPECT_EQ(changed(four, five), Ids{-1});

  // A view further behind than the ring reaches.
  std::uint64_t last = five;
  for (std::size_t i = 0; i < SharedChanges::kRecords; ++i) {
    last = CommitNaming(writer, {42});
  }
  EXPECT_EQ(changed(last - 4, last), Ids{42});
  EXPECT_EQ(changed(five, last), Ids{-1});
}

// A commit that only set one value tells it whole, a new one with its
// creation order; a view catching up over several takes them all, oldest
// first, or none when any commit between told nothing (more than one key, a
// value or an order too large, a key made).
TEST_F(ChangeCounterTest, AValueSetIsToldWholeOrNotAtAll) {
  Store writer, reader;
  Bind(writer);
  MakeKey(writer, u"Made");
  Bind(reader);
  const auto setAgain = [&](std::vector<std::int64_t> ids,
                            std::u16string_view name, std::size_t bytes,
                            std::int64_t ord = 0) {
    std::uint64_t counter = 0;
    EXPECT_EQ(writer.BeginWrite(), ERROR_SUCCESS);
    writer.Changes().Clear();
    for (const std::int64_t id : ids) {
      writer.Changes().Add(id, REG_NOTIFY_CHANGE_LAST_SET);
    }
    const std::vector<std::uint8_t> data(bytes,
                                         static_cast<std::uint8_t>(bytes));
    if (ChangeSet::Tellable(name, bytes, ord)) {
      writer.Changes().SetValue(ids[0], name, REG_BINARY, data, 1000 + bytes,
                                ord);
    }
    writer.MarkWritten();
    EXPECT_EQ(writer.Commit(false, counter), ERROR_SUCCESS);
    return counter;
  };
  const std::uint64_t start = reader.counter().Value();
  const std::uint64_t one = setAgain({7}, u"v", 4);
  const std::uint64_t two = setAgain({7}, u"w", 64, SharedChanges::kLatestOrd);
  std::vector<ChangeSet::ValueSet> told;
  ASSERT_TRUE(reader.counter().Told(start, two, told));
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0].key, 7);
  EXPECT_EQ(told[0].name, u"v");
  EXPECT_EQ(told[0].data, std::vector<std::uint8_t>(4, 4));
  EXPECT_EQ(told[0].lastWrite, 1004u);
  EXPECT_EQ(told[0].ord, 0);
  EXPECT_EQ(told[1].name, u"w");
  EXPECT_EQ(told[1].data.size(), 64u);
  EXPECT_EQ(told[1].ord, SharedChanges::kLatestOrd);
  told.clear();
  ASSERT_TRUE(reader.counter().Told(one, two, told));
  EXPECT_EQ(told.size(), 1u);

  const auto toldFrom = [&](std::uint64_t from, std::uint64_t to) {
    std::vector<ChangeSet::ValueSet> values;
    return reader.counter().Told(from, to, values);
  };
  EXPECT_FALSE(toldFrom(two, setAgain({7}, u"v", 65)));
  const std::uint64_t large = reader.counter().Value();
  EXPECT_FALSE(
      toldFrom(large, setAgain({7}, u"n", 4, SharedChanges::kLatestOrd + 1)));
  const std::uint64_t big = reader.counter().Value();
  EXPECT_FALSE(toldFrom(big, setAgain({7, 9}, u"v", 4)));
  const std::uint64_t both = reader.counter().Value();
  EXPECT_FALSE(toldFrom(both, CommitNaming(writer, {7})));
  EXPECT_FALSE(toldFrom(two, reader.counter().Value()));
  // Odd values are a commit under way.
  EXPECT_FALSE(toldFrom(start + 1, two));
}

// A value told before its commit lands goes only to a reader that knows
// the commit landed, and only for the commit right after the state it
// holds; to everyone once the writer says it landed; and to nobody when the
// commit failed or its writer died under way.
TEST_F(ChangeCounterTest, AValueToldEarlyIsTakenOnlyOnceItsCommitLanded) {
  Store writer, settler, reader;
  Bind(writer);
  MakeKey(writer, u"Made");
  Bind(settler);
  Bind(reader);
  ChangeCounter& counter = writer.counter();
  const ChangeCounter& ring = reader.counter();
  ChangeSet set;
  set.Add(7, REG_NOTIFY_CHANGE_LAST_SET);
  set.SetValue(7, u"v", REG_BINARY, {1, 2}, 1000);
  std::vector<ChangeSet::ValueSet> told;
  ChangeSet::ValueSet early;

  const std::uint64_t start = ring.Value();
  const std::uint64_t odd = counter.BeforeCommit(set);
  counter.TellEarly(odd, set);
  ASSERT_TRUE(ring.ToldEarly(start, odd, early));
  EXPECT_EQ(early.key, 7);
  EXPECT_EQ(early.data, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_FALSE(ring.ToldEarly(start - 4, odd, early));
  EXPECT_FALSE(ring.Told(start, odd, told));
  counter.Tell(odd);
  EXPECT_TRUE(ring.Told(start, odd, told));
  const std::uint64_t landed = counter.AfterCommit(odd);
  told.clear();
  ASSERT_TRUE(ring.Told(start, landed, told));
  EXPECT_EQ(told.size(), 1u);

  // A commit that failed takes it back.
  const std::uint64_t failed = counter.BeforeCommit(set);
  counter.TellEarly(failed, set);
  counter.Untell(failed);
  EXPECT_FALSE(ring.ToldEarly(landed, failed, early));
  // A writer that died under way, whether or not its commit landed: its
  // odd value settled, what it told early is not taken.
  counter.TellEarly(failed, set);
  settler.counter().Settle(failed);
  ASSERT_EQ(ring.Value(), failed + 1);
  EXPECT_FALSE(ring.ToldEarly(landed, failed, early));
  EXPECT_FALSE(ring.Told(landed, failed + 1, told));
}

// What a watcher reads of each commit: the kinds of change at the keys its
// writer noted, any kind at its keys when it noted none, the kinds of a
// change anywhere when it noted too many places; and nothing it can trust
// once the ring was overrun.
TEST_F(ChangeCounterTest, NoticesTellAWatcherWhatKindOfChangeWhere) {
  Connection connection;
  connection.Aim(folder_.File("noticed.db"));
  ChangeCounter counter(connection);
  ASSERT_EQ(counter.Map(true), ERROR_SUCCESS);
  ChangeWatch watch;
  ASSERT_TRUE(watch.Open(connection.Path()));
  EXPECT_TRUE(watch.Registered());
  const auto commit = [&](const ChangeSet& changes) {
    counter.AfterCommit(counter.BeforeCommit(changes));
  };
  const std::uint64_t start = counter.Value();

  ChangeSet set;
  set.Add(7);
  set.Note(7, REG_NOTIFY_CHANGE_LAST_SET);
  commit(set);
  ChangeSet deleted;
  deleted.Everything();
  deleted.Note(9, SharedChanges::kDeleted);
  deleted.Note(3, REG_NOTIFY_CHANGE_NAME);
  commit(deleted);
  ChangeSet unnoted;
  unnoted.Add(11);
  commit(unnoted);
  ChangeSet many;
  for (std::int64_t id = 20; id < 25; ++id) {
    many.Note(id,
              id == 24 ? REG_NOTIFY_CHANGE_NAME : REG_NOTIFY_CHANGE_LAST_SET);
  }
  commit(many);

  std::vector<ChangeWatch::Change> changes;
  ASSERT_TRUE(watch.Changes(start, counter.Value(), changes));
  ASSERT_EQ(changes.size(), 4u);  // the latest first
  EXPECT_EQ(changes[0].anywhere,
            REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET);
  EXPECT_TRUE(changes[0].places.empty());
  ASSERT_EQ(changes[1].places.size(), 1u);
  EXPECT_EQ(changes[1].places[0].id, 11);
  EXPECT_EQ(changes[1].places[0].kinds, 0xFF);
  ASSERT_EQ(changes[2].places.size(), 2u);
  EXPECT_EQ(changes[2].places[0].id, 9);
  EXPECT_EQ(changes[2].places[0].kinds, SharedChanges::kDeleted);
  EXPECT_EQ(changes[2].places[1].id, 3);
  EXPECT_EQ(changes[2].places[1].kinds, REG_NOTIFY_CHANGE_NAME);
  EXPECT_EQ(changes[2].anywhere, 0);
  ASSERT_EQ(changes[3].places.size(), 1u);
  EXPECT_EQ(changes[3].places[0].kinds, REG_NOTIFY_CHANGE_LAST_SET);

  // A writer of a build without notices leaves the slot's older notice:
  // its commit counts as any kind of change at its record's keys.
  const std::uint64_t before = watch.Value();
  commit(set);
  {
    std::fstream file(ChangesPath(connection.Path()),
                      std::ios::binary | std::ios::in | std::ios::out);
    const std::uint64_t stale = 0;
    file.seekp(offsetof(SharedChanges, notices) +
               (((before | 1) + 2) >> 1) % SharedChanges::kRecords *
                   sizeof(SharedChanges::Notice));
    file.write(reinterpret_cast<const char*>(&stale), sizeof stale);
  }
  changes.clear();
  ASSERT_TRUE(watch.Changes(before, watch.Value(), changes));
  ASSERT_EQ(changes.size(), 1u);
  ASSERT_EQ(changes[0].places.size(), 1u);
  EXPECT_EQ(changes[0].places[0].id, 7);
  EXPECT_EQ(changes[0].places[0].kinds, 0xFF);

  for (std::size_t i = 0; i < SharedChanges::kRecords; ++i) commit(set);
  changes.clear();
  EXPECT_FALSE(watch.Changes(start, counter.Value(), changes));
}

TEST_F(ChangeCounterTest, AnEarlierLayoutIsGrownANewerOneRefused) {
  const std::string db = folder_.File("store.db");
  {
    Store maker;
    Bind(maker);
    MakeKey(maker, u"Made");
  }
  // An 8-byte counter, as the first layout left it: its value is kept.
  const std::uint64_t counter = 40;
  std::ofstream(ChangesPath(db), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(&counter), sizeof counter);
  {
    Store grown;
    Bind(grown);
    EXPECT_EQ(grown.counter().Value(), counter);
    MakeKey(grown, u"After");
    EXPECT_EQ(grown.counter().Value(), counter + 4);
  }
  // A layout this build doesn't know.
  {
    std::fstream file(ChangesPath(db),
                      std::ios::binary | std::ios::in | std::ios::out);
    const std::uint32_t layout = SharedChanges::kLayout + 1;
    file.seekp(offsetof(SharedChanges, layout));
    file.write(reinterpret_cast<const char*>(&layout), sizeof layout);
  }
  Store refused;
  bool reopened = false;
  EXPECT_EQ(refused.Bind(reopened), ERROR_BADDB);
  EXPECT_NE(refused.Problem().find("newer"), std::string::npos)
      << refused.Problem();
}

}  // namespace
}  // namespace corvane::platform::emulated
