// MainApp: the repair. Main makes the DCOM registrations of the planetarium
// program (two executable names) and of the telescope driver use
// authentication level 1, creating the driver's registration when it has none.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace corvane::MainApp {

// Raised when the driver's registration can be neither found nor created.
inline constexpr std::int32_t kFixFailedNumber = -2147220480;  // 0x80040400
inline constexpr const wchar_t* kFixFailedSource = L"Corvane Utility";
inline constexpr const wchar_t* kFixFailedDescription =
    L"Failed to Fix The Sky to work with Gemini Driver";

// The repair. Each step that fails is passed over; the one error that leaves
// is the fix failure above (a RaisedError).
void Main();

// True when "appID\Gemini Driver.exe" below HKEY_CLASSES_ROOT opens with
// KEY_ALL_ACCESS; the application node then stands on it. Never raises.
bool GeminiDriverHasAppID();

// Creates (or opens) `SubKey` below `RootKey` for writing; true on success.
// Never raises.
bool CreateRegistryKey(platform::HKEY RootKey, const std::wstring& SubKey);

// Gives up the application node (closing its key). The entry points call it
// once the repair is over, while the registry is still there to close it in.
void ReleaseAppNode();

}  // namespace corvane::MainApp
