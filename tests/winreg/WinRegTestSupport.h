// What the corvane::winreg tests share between their C++ and C parts.
#pragma once

#ifdef __cplusplus
// Points the emulated registry at a new, empty store; does nothing on the
// system's registry.
void UseFreshStore();
// True in the Windows build running under Wine: a case where Wine parts
// from Microsoft's documentation is skipped there.
bool UnderWine();

extern "C" {
#endif

// Exercises the API from C, without UNICODE, below HKEY_CURRENT_USER\<path>.
// Returns 0, or the source line of the first check that failed.
int WinRegFromC(const char* path);

#ifdef __cplusplus
}
#endif
