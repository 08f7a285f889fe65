// The keys every store holds from its creation on, with the fixed ids every
// store and the in-memory stand-in agree on: the root keys, the machine's
// classes with their AppID key, and the user's classes.
#pragma once

#include <cstdint>

namespace corvane::platform::emulated::seed {

inline constexpr std::int64_t kCurrentUser = 1;
inline constexpr std::int64_t kLocalMachine = 2;
inline constexpr std::int64_t kUsers = 3;
inline constexpr std::int64_t kPerformanceData = 4;
inline constexpr std::int64_t kCurrentConfig = 5;
inline constexpr std::int64_t kDynData = 6;
inline constexpr std::int64_t kMachineSoftware = 7;  // HKLM\SOFTWARE
inline constexpr std::int64_t kMachineClasses = 8;   // HKLM\SOFTWARE\Classes
inline constexpr std::int64_t kMachineAppId = 9;     // ...\Classes\AppID
inline constexpr std::int64_t kUserSoftware = 10;    // HKCU\Software
inline constexpr std::int64_t kUserClasses = 11;     // HKCU\Software\Classes

struct Key {
  std::int64_t id;
  std::int64_t parent;  // 0 for a root key
  const char16_t* name;
};

// Parents before their children.
inline constexpr Key kKeys[] = {
    {kCurrentUser, 0, u"HKEY_CURRENT_USER"},
    {kLocalMachine, 0, u"HKEY_LOCAL_MACHINE"},
    {kUsers, 0, u"HKEY_USERS"},
    {kPerformanceData, 0, u"HKEY_PERFORMANCE_DATA"},
    {kCurrentConfig, 0, u"HKEY_CURRENT_CONFIG"},
    {kDynData, 0, u"HKEY_DYN_DATA"},
    {kMachineSoftware, kLocalMachine, u"SOFTWARE"},
    {kMachineClasses, kMachineSoftware, u"Classes"},
    {kMachineAppId, kMachineClasses, u"AppID"},
    {kUserSoftware, kCurrentUser, u"Software"},
    {kUserClasses, kUserSoftware, u"Classes"},
};

}  // namespace corvane::platform::emulated::seed
