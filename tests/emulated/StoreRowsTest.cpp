// The store's rows and transactions driven directly, two stores on one file
// standing for two processes: what a commit shows and a rollback hides, ids
// that are never given twice, values by name in any case and in creation
// order, and a subtree read whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "StoreOfItsOwn.h"
#include "platform/emulated/store/SubtreeScan.h"

namespace corvane::platform::emulated {
namespace {

using StoreRowsTest = StoreOfItsOwn;

TEST_F(StoreRowsTest, ACommitIsSeenElsewhereARollbackNowhere) {
  Store writer, reader;
  Bind(writer);
  EXPECT_TRUE(writer.NotMadeYet());
  MakeKey(writer, u"Kept");  // the first write makes the file
  EXPECT_FALSE(writer.NotMadeYet());
  Bind(reader);
  EXPECT_TRUE(Finds(reader, u"kept"));

  std::int64_t id = 0;
  ASSERT_EQ(writer.BeginWrite(), ERROR_SUCCESS);
  ASSERT_EQ(writer.rows().InsertKey(seed::kCurrentUser, u"Dropped", nullptr,
                                    false, 1, id),
            ERROR_SUCCESS);
  // Under way: the writer sees its own row, the reader doesn't.
  KeyRow row;
  bool found = false;
  ASSERT_EQ(writer.rows().LoadKey(id, row, found), ERROR_SUCCESS);
  EXPECT_TRUE(found);
  EXPECT_FALSE(Finds(reader, u"Dropped"));
  writer.Rollback();
  EXPECT_FALSE(Finds(reader, u"Dropped"));
  EXPECT_FALSE(Finds(writer, u"Dropped"));
}

TEST_F(StoreRowsTest, IdsAreNeverGivenTwice) {
  Store store, other;
  Bind(store);
  const std::int64_t first = MakeKey(store, u"First");
  EXPECT_GT(first, seed::kUserClasses);  // past every seeded key

  // Deleted, then reset: neither gives its id back, to either store.
  std::uint64_t counter = 0;
  ASSERT_EQ(store.BeginWrite(), ERROR_SUCCESS);
  ASSERT_EQ(store.rows().DeleteTree(first), ERROR_SUCCESS);
  ASSERT_EQ(store.Commit(false, counter), ERROR_SUCCESS);
  Bind(other);
  const std::int64_t second = MakeKey(other, u"Second");
  EXPECT_GT(second, first);
  ASSERT_EQ(store.BeginWrite(), ERROR_SUCCESS);
  ASSERT_EQ(store.rows().Reset(), ERROR_SUCCESS);
  ASSERT_EQ(store.Commit(false, counter), ERROR_SUCCESS);
  EXPECT_FALSE(Finds(other, u"Second"));
  const std::int64_t third = MakeKey(store, u"Third");
  EXPECT_GT(third, second);

  // An id given in a write rolled back was never saved, but one a commit
  // saved is never given again.
  std::int64_t rolledBack = 0;
  ASSERT_EQ(other.BeginWrite(), ERROR_SUCCESS);
  ASSERT_EQ(other.rows().InsertKey(seed::kCurrentUser, u"Gone", nullptr, false,
                                   1, rolledBack),
            ERROR_SUCCESS);
  other.Rollback();
  EXPECT_GT(rolledBack, third);
  EXPECT_GT(MakeKey(other, u"Fourth"), third);
}

TEST_F(StoreRowsTest, ValuesAreFoundInAnyCaseAndKeepTheirOrder) {
  Store store;
  Bind(store);
  const std::int64_t key = MakeKey(store, u"Values");
  const BYTE one[] = {1}, two[] = {2, 2};
  std::uint64_t counter = 0;
  ASSERT_EQ(store.BeginWrite(), ERROR_SUCCESS);
  // A name the key lacks gives the order a new value takes.
  std::int64_t ord = 0;
  bool found = true;
  ASSERT_EQ(store.rows().FindValue(key, u"Zeta", ord, found), ERROR_SUCCESS);
  EXPECT_FALSE(found);
  EXPECT_EQ(ord, 1);
  ASSERT_EQ(store.rows().PutValue(key, 1, true, u"Zeta", REG_BINARY, one),
            ERROR_SUCCESS);
  ASSERT_EQ(store.rows().PutValue(key, 2, true, u"", REG_SZ, {}),
            ERROR_SUCCESS);
  ASSERT_EQ(store.rows().FindValue(key, u"other", ord, found), ERROR_SUCCESS);
  EXPECT_FALSE(found);
  EXPECT_EQ(ord, 3);
  ASSERT_EQ(store.rows().FindValue(key, u"ZETA", ord, found), ERROR_SUCCESS);
  EXPECT_TRUE(found);
  EXPECT_EQ(ord, 1);
  ASSERT_EQ(store.rows().PutValue(key, ord, false, u"zeta", REG_DWORD, two),
            ERROR_SUCCESS);
  ASSERT_EQ(store.Commit(false, counter), ERROR_SUCCESS);

  std::vector<ValueRow> values;
  ASSERT_EQ(store.BeginRead(), ERROR_SUCCESS);
  ASSERT_EQ(store.rows().LoadValues(key, values), ERROR_SUCCESS);
  store.EndRead();
  ASSERT_EQ(values.size(), 2u);
  // The name as first given; type and data as last set.
  EXPECT_EQ(values[0].name, u"Zeta");
  EXPECT_EQ(values[0].type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(values[0].data, std::vector<BYTE>(std::begin(two), std::end(two)));
  // The default value: an empty name and no bytes, never NULL.
  EXPECT_EQ(values[1].name, u"");
  EXPECT_TRUE(values[1].data.empty());
}

// Collects what a subtree read gives, as the view takes it.
class Collector final : public KeySink {
 public:
  void Expect(std::size_t) override {}
  bool Take(KeyRow&& row) override {
    keys.push_back(std::move(row));
    return keys.size() < stopAfter;
  }
  void Restart() override { keys.clear(); }
  std::vector<KeyRow> keys;
  std::size_t stopAfter = static_cast<std::size_t>(-1);
};

TEST_F(StoreRowsTest, ASubtreeComesParentsFirstWithItsValues) {
  Store store;
  Bind(store);
  const std::int64_t top = MakeKey(store, u"Top");
  std::uint64_t counter = 0;
  ASSERT_EQ(store.BeginWrite(), ERROR_SUCCESS);
  std::int64_t a = 0, b = 0, leaf = 0, outside = 0;
  ASSERT_EQ(store.rows().InsertKey(top, u"A", nullptr, false, 1, a), 0);
  ASSERT_EQ(store.rows().InsertKey(seed::kCurrentUser, u"Outside", nullptr,
                                   false, 1, outside),
            0);
  ASSERT_EQ(store.rows().InsertKey(top, u"B", nullptr, false, 1, b), 0);
  ASSERT_EQ(store.rows().InsertKey(a, u"Leaf", nullptr, false, 1, leaf), 0);
  const BYTE data[] = {7};
  ASSERT_EQ(store.rows().PutValue(leaf, 1, true, u"v", REG_BINARY, data), 0);
  ASSERT_EQ(store.rows().PutValue(outside, 1, true, u"w", REG_BINARY, data), 0);
  ASSERT_EQ(store.Commit(false, counter), ERROR_SUCCESS);

  ASSERT_EQ(store.BeginRead(), ERROR_SUCCESS);
  Collector all;
  SubtreeRest rest;
  ASSERT_EQ(store.subtree().Load(top, 100, all, rest), ERROR_SUCCESS);
  std::vector<std::int64_t> ids;
  for (const KeyRow& row : all.keys) ids.push_back(row.id);
  EXPECT_EQ(ids, (std::vector<std::int64_t>{top, a, b, leaf}));
  EXPECT_EQ(rest.complete, std::vector<bool>(4, true));
  ASSERT_EQ(rest.values.size(), 1u);  // the outside key's is not its
  EXPECT_EQ(rest.values[0].key, leaf);

  // A limit that cuts the list: what came is still parents first, and a
  // key whose children may be missing says so.
  Collector cut;
  SubtreeRest cutRest;
  ASSERT_EQ(store.subtree().Load(top, 2, cut, cutRest), ERROR_SUCCESS);
  ASSERT_EQ(cut.keys.size(), 2u);
  EXPECT_EQ(cut.keys[0].id, top);
  ASSERT_EQ(cutRest.complete.size(), 2u);
  EXPECT_FALSE(cutRest.complete[0]);

  // A sink that stops the read gets no values.
  Collector stopped;
  stopped.stopAfter = 1;
  SubtreeRest stoppedRest;
  ASSERT_EQ(store.subtree().Load(top, 100, stopped, stoppedRest),
            ERROR_SUCCESS);
  EXPECT_EQ(stopped.keys.size(), 1u);
  EXPECT_TRUE(stoppedRest.values.empty());
  store.EndRead();
}

}  // namespace
}  // namespace corvane::platform::emulated
