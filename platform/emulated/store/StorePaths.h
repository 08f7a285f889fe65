// The names of every file a store is made of, from the name of its
// database: the database itself, SQLite's log and shared memory beside it,
// the change counter, and a store being built aside. Nothing else in the
// store spells a file name.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace corvane::platform::emulated {

// The database a registry name stands for: the name itself, or
// "<name>.db" for a name ending in ".reg" (an old hive, imported into it
// once).
std::string DatabasePathFor(const std::string& name);

// "<db>-changes": the change counter every writer advances.
std::string ChangesPath(const std::string& db);
// "<db>-wal" and "<db>-shm": SQLite's log and its shared index.
std::string LogPath(const std::string& db);
std::string SharedMemoryPath(const std::string& db);

// "<db>.building-<pid>": the store `pid` builds aside before it takes the
// database's name.
std::string BuildingPath(const std::string& db, pid_t pid);
// The process that builds aside for `db` in the file named `fileName`
// (a name within the database's folder: the build itself or a log SQLite
// left beside it), or 0 when it names no such file.
pid_t BuildingOwner(const std::string& db, std::string_view fileName);

}  // namespace corvane::platform::emulated
