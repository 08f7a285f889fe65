// The backup and restore privileges that saving and loading hives need, as
// a Windows program enables them in its own token before it asks. The
// emulation has no tokens: its process holds them unless it runs in the
// non-administrator mode. PrivilegesWindows.cpp and PrivilegesPosix.cpp
// implement it; CMake builds one.
#pragma once

namespace corvane::testing {

// Whether both are enabled now.
bool EnableHivePrivileges();

}  // namespace corvane::testing
