// The one-time import of an old hive: a .reg file of the earlier layout
// that names the registry, read into a store made beside it ("<file>.db"),
// which every process uses from then on. The hive is never written.
#pragma once

#include <string>

#include "platform/Platform.h"
#include "platform/emulated/store/Store.h"

namespace corvane::platform::emulated {

// Makes the store of `hive` from it, in one transaction. A hive that can't
// be read or parsed leaves no store behind; the store is then refused with
// the reason ("<file>:<line>: <what is wrong>" for a fault in the file) and
// ERROR_BADDB comes back, as from every call after it.
LONG MigrateHive(Store& store, const std::string& hive);

// Reads the whole file into `bytes`. A missing file sets `missing` and is no
// error. Failures come back as "<path>: <system reason>".
std::string ReadHiveFile(const std::string& path, std::string& bytes,
                         bool& missing);

}  // namespace corvane::platform::emulated
