// Whether this process may write a store: the database, the files SQLite
// and the change counter keep beside it, and the folder that holds them
// (or, for a store not made yet, the folder it would be made in).
#pragma once

#include <string>

namespace corvane::platform::emulated {

// "" when the store `db` can be written; otherwise "<file>: <reason>" for
// the first file or folder that can't be.
std::string WhyNotWritable(const std::string& db);

}  // namespace corvane::platform::emulated
