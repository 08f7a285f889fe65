// What makes a database a store of ours: the stamp in its header, the
// tables and indexes, the upgrade of a store of the earlier schema, the
// seeded keys (Seed.h), and the boot a store's volatile keys belong to.
// The file format and stamp are fixed: stores on disk keep working.
#pragma once

#include <string>

#include "platform/Platform.h"
#include "platform/emulated/store/Connection.h"

namespace corvane::platform::emulated::schema {

// The id of this boot of the machine: volatile keys carry it.
std::string BootId();

// Refuses, without writing a byte, a file that is not a store of ours or is
// one of a later schema. `fresh`: an empty database still to be set up;
// `version` the schema the file has.
LONG CheckStamp(Connection& connection, bool& fresh, int& version);
// A fresh file's format: its page size, text encoding, and the log (WAL).
LONG Format(Connection& connection);
// The tables, seeded, in a fresh file another process may be setting up at
// the same moment: the one that gets the write lock first does it.
LONG Create(Connection& connection, const std::string& boot);
// The tables, seeded, in the in-memory stand-in.
LONG CreateInMemory(Connection& connection, const std::string& boot);
// The tables of a store built aside, inside its write transaction, and
// seeded; FinishAside commits them.
LONG CreateAside(Connection& connection, const std::string& boot);
LONG FinishAside(Connection& connection);
// The tables of a hive file (HiveFile.h): a store's, without seeded keys,
// marked as a hive in its meta table, in a fresh file without a log.
LONG CreateHive(Connection& connection);
// Whether an open database is a hive file this build reads: stamped as
// ours, of a schema it knows, and marked as a hive.
bool IsHive(sqlite3* db);
// A store of the earlier schema brought to this one, in one transaction.
LONG Upgrade(Connection& connection);
// The keys every store holds from its creation on, and the boot.
LONG Seed(Connection& connection, const std::string& boot);
// Whether the store lacks a key of the registry's views (Wow64Paths.h): a
// store made before they were seeded, or one whose keys were deleted.
bool LacksViewKeys(Connection& connection);
// Adds those the store lacks, and only those, inside a write transaction;
// `added` tells whether there were any. The store keeps its version: a
// build that doesn't know the views opens it as before.
LONG AddViewKeys(Connection& connection, bool& added);
// Removes volatile keys of another boot than `boot` and makes the store
// `boot`'s, inside a write transaction.
LONG DropStaleVolatile(Connection& connection, const std::string& boot);
// Whether the store was last used in another boot.
bool OfAnotherBoot(Connection& connection, const std::string& boot);
// Version 3 added checksums on every page (ChecksumVfs.h) to the tables of
// version 2; version 4 keeps values by name and is what this build makes.
// Stores of versions 1 to 3 are upgraded to version 4 in one transaction.
// Checksums are a property of the file: a store made without them (version
// 2) keeps working without them. Hive files keep the tables of version 2
// (version 3 with checksums), which every build that reads hives reads.
inline constexpr int kVersion = 4;
inline constexpr int kTablesVersion = 4;

}  // namespace corvane::platform::emulated::schema
