// The names of a store's files: the database an old hive's name stands for,
// and which files beside a database are builds aside, whose, so that only a
// dead process's are ever removed.
#include <gtest/gtest.h>

#include "platform/emulated/store/StorePaths.h"

namespace corvane::platform::emulated {
namespace {

TEST(StorePathsTest, AnOldHivesNameStandsForTheDatabaseBesideIt) {
  EXPECT_EQ(DatabasePathFor("/a/registry.reg"), "/a/registry.reg.db");
  EXPECT_EQ(DatabasePathFor("/a/registry.db"), "/a/registry.db");
  EXPECT_EQ(DatabasePathFor("/a/registry.REG"), "/a/registry.REG");
  EXPECT_EQ(DatabasePathFor("/a/.reg/store"), "/a/.reg/store");
  EXPECT_EQ(ChangesPath("/a/s.db"), "/a/s.db-changes");
  EXPECT_EQ(LogPath("/a/s.db"), "/a/s.db-wal");
  EXPECT_EQ(SharedMemoryPath("/a/s.db"), "/a/s.db-shm");
}

TEST(StorePathsTest, ABuildAsideIsKnownByItsNameAndItsOwner) {
  const std::string db = "/a/s.db";
  EXPECT_EQ(BuildingPath(db, 42), "/a/s.db.building-42");
  EXPECT_EQ(BuildingOwner(db, "s.db.building-42"), 42);
  for (const char* log : {"-wal", "-shm", "-journal"}) {
    EXPECT_EQ(BuildingOwner(db, std::string("s.db.building-42") + log), 42)
        << log;
  }
  // Not a build of this store, or not one SQLite would have made.
  for (const char* other :
       {"s.db", "s.db-wal", "t.db.building-42", "s.db.building-",
        "s.db.building-x1", "s.db.building-0", "s.db.building--3",
        "s.db.building-42.kept", "s.db.building-42-walx"}) {
    EXPECT_EQ(BuildingOwner(db, other), 0) << other;
  }
}

}  // namespace
}  // namespace corvane::platform::emulated
