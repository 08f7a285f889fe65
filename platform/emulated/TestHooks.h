// Hooks into the emulated backend for tests: what a test on Windows would
// need an administrator, a second machine or an old operating system for.
// Only the emulated build has them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/Platform.h"

namespace corvane::platform::emulated {

// Throws the whole registry away: what remains is a fresh installation's
// keys (the root keys, HKEY_LOCAL_MACHINE\SOFTWARE\Classes\AppID and
// HKEY_CURRENT_USER\Software\Classes). The store is shared: every process
// using it sees the reset at once. This process's handles become invalid;
// other processes' handles to keys that were removed answer
// ERROR_KEY_DELETED.
void ResetRegistry();

// The database file of the store this process uses (where it will be made,
// while nothing has been written).
std::string StorePath();

// An ACL entry, kept in this process only: the key at `path` below `root`
// refuses, with ERROR_ACCESS_DENIED, every open or create that asks for one of
// `rights`, and the operations those rights guard (KEY_CREATE_SUB_KEY for a new
// child, DELETE for deleting the key). The key must exist. Cumulative.
void DenyAccess(HKEY root, const char* path, REGSAM rights);
// Removes every entry DenyAccess made.
void ClearDenials();

// Handles currently open (the predefined roots not counted).
std::size_t OpenHandleCount();

// RegFlushKey calls answered, failed ones included, since this process
// first asked (FlushCount or FailNextFlush): the first answer is 0, and the
// difference between two answers is the calls made between them.
std::size_t FlushCount();
// The next RegFlushKey answers `status` (non-zero) without flushing.
void FailNextFlush(LONG status);

// Runs `action` once, right after the next RegQueryValueExA that asks for a
// size only (no data buffer) has answered, outside the registry's lock: the
// moment a value can change between a caller's size query and its read.
void AfterNextSizeQuery(std::function<void()> action);

// Runs `action` once, right after the next ExpandEnvironmentStringsA has
// worked out its answer: the moment the environment can change between a
// caller's sizing call and its expansion.
void AfterNextExpansion(std::function<void()> action);

// From now on the ANSI code page can't carry `c`: WideToAnsi's status form
// answers ERROR_NO_UNICODE_TRANSLATION for a text holding it, as Windows does
// for an unpaired surrogate on a UTF-8 code page. L'\0' lifts it. The
// registry functions' own conversions are not affected.
void SetUntranslatable(wchar_t c);

// GetVersion answers `version` from now on; bit 31 set is the 95 family.
void SetVersion(DWORD version);
// Back to the default NT-family answer.
void ResetVersion();

}  // namespace corvane::platform::emulated
