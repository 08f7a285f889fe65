// The hive's life on disk, apart from its format: where it lives, the lock
// that keeps two processes from using it at once, reading it whole and
// replacing it atomically. Failures come back as "<path>: <system reason>".
#pragma once

#include <string>

namespace corvane::platform::emulated {

// CORVANE_REGISTRY when set and not empty, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/corvane/registry.reg (a relative
// XDG_DATA_HOME is ignored, as the XDG rules ask). "" when neither
// CORVANE_REGISTRY nor HOME tells where.
std::string HivePath();

// Takes the exclusive lock on "<hive>.lock", waiting while another process
// holds it, and keeps it until this process ends. The hive's folder is
// created for the lock file if it is missing. Taking a lock this process
// already holds does nothing. A lock file that can't be created in a
// read-only place is no error: nothing can be saved there either, and the
// save will say so. Leftover temporary files of saves that were killed are
// removed once the lock is held.
std::string LockHive(const std::string& path);

// Reads the whole file into `bytes`. A missing file sets `missing` and is no
// error.
std::string ReadHiveFile(const std::string& path, std::string& bytes,
                         bool& missing);

// Replaces the file with `bytes` so that at every instant the path holds
// either the old contents or the new: a temporary file in the same folder,
// written and flushed to disk, renamed over the hive, then the folder
// flushed. Creates the folder if needed. On failure the old file is left as
// it was and the temporary file removed.
std::string WriteHiveFile(const std::string& path, const std::string& bytes);

// For tests: the next save fails at `step` with the system error `error`
// (an errno value), as a full disk or a lost permission would make it.
enum class HiveStep { kCreateFolder, kCreateTemp, kWrite, kSync, kRename };
void FailNextHiveSave(HiveStep step, int error);

}  // namespace corvane::platform::emulated
