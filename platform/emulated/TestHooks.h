// Hooks into the emulated backend for tests: what a test on Windows would
// need an administrator, a second machine or an old operating system for.
// Only the emulated build has them.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/Platform.h"

namespace corvane::platform::emulated {

// Throws the whole registry away: what remains is a fresh installation's
// tree (the root keys and HKEY_LOCAL_MACHINE\SOFTWARE\Classes\AppID). Open
// handles become invalid; the hive file, if one is in use, is not touched
// until the next flush.
void ResetRegistry();

// An ACL entry: the key at `path` below `root` refuses, with
// ERROR_ACCESS_DENIED, every open or create that asks for one of `rights`,
// and the operations those rights guard (KEY_CREATE_SUB_KEY for a new child,
// DELETE for deleting the key). The key must exist. Cumulative.
void DenyAccess(HKEY root, const char* path, REGSAM rights);
// Removes every entry DenyAccess made.
void ClearDenials();

// Handles currently open (the predefined roots not counted).
std::size_t OpenHandleCount();

// RegFlushKey calls answered since the process started, failed ones
// included.
std::size_t FlushCount();
// The next RegFlushKey answers `status` (non-zero) without flushing.
void FailNextFlush(LONG status);

// Runs `action` once, right after the next RegQueryValueExA that asks for a
// size only (no data buffer) has answered, outside the registry's lock: the
// moment a value can change between a caller's size query and its read.
void AfterNextSizeQuery(std::function<void()> action);

// GetVersion answers `version` from now on; bit 31 set is the 95 family.
void SetVersion(DWORD version);
// Back to the default NT-family answer.
void ResetVersion();

}  // namespace corvane::platform::emulated
