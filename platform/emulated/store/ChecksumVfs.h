// Page checksums for store files: an SQLite VFS over the system's own that
// keeps an 8-byte checksum in the reserved bytes at the end of every page of
// a database whose header reserves exactly 8 bytes, and of every page the
// log holds for it. A page read from the disk that no longer matches its
// checksum is a read error (SQLITE_IOERR_DATA), never data. Databases that
// reserve no bytes (stores made before checksums) pass through unchecked.
#pragma once

#include <cstdint>

struct sqlite3;

namespace corvane::platform::emulated::checksums {

// The name to open store files with (sqlite3_open_v2's zVfs); registered on
// first use.
const char* VfsName();

// The reserved bytes a checksummed database sets aside on each page.
inline constexpr int kReservedBytes = 8;

// The first region of the shared index (-shm) of the log of `db`'s main
// database, as SQLite mapped it, or null: not opened through this VFS, or
// not mapped (no log yet, or closed). Good until `db`'s next call.
const volatile void* SharedIndex(sqlite3* db);

// A page's checksum, over its `size` bytes but the reserved ones: two
// running sums (Fletcher's scheme) over its 8-byte little-endian words,
// folded into one, and seeded, so that a page zeroed by damage doesn't
// match. Stored in the page's reserved bytes, little-endian.
std::uint64_t PageSum(const unsigned char* page, int size);

// The running sum of SQLite's log (its header's and each frame's), carried
// in `sum` over `size` bytes, 8 at a time, read as 32-bit words in the
// order the log's header names: big-endian or little-endian.
void LogSum(bool bigEndian, const unsigned char* bytes, int size,
            std::uint32_t sum[2]);

}  // namespace corvane::platform::emulated::checksums
