// The change counter's protocol, driven directly: odd while a commit is
// under way and even after, the same value in every process's mapping, and
// an odd value a dead writer left made even only by whoever can take the
// write lock.
#include <gtest/gtest.h>

#include "StoreOfItsOwn.h"
#include "platform/emulated/store/ChangeCounter.h"

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

}  // namespace
}  // namespace corvane::platform::emulated
