// The seeded key a predefined key stands for, by the predefined key's value
// (its handle's low 32 bits): what a .reg file's root names and what a
// registry call's predefined handle opens.
#pragma once

#include <cstdint>

#include "platform/emulated/store/Seed.h"

namespace corvane::platform::emulated {

inline constexpr std::uint32_t kClassesRootValue = 0x80000000u;

// HKEY_CLASSES_ROOT stands for the machine's classes; HKEY_CURRENT_USER to
// HKEY_DYN_DATA for the root keys; 0 for any other value.
constexpr std::int64_t RootKeyId(std::uint32_t value) {
  switch (value) {
    case kClassesRootValue:
      return seed::kMachineClasses;
    case 0x80000001u:
      return seed::kCurrentUser;
    case 0x80000002u:
      return seed::kLocalMachine;
    case 0x80000003u:
      return seed::kUsers;
    case 0x80000004u:
      return seed::kPerformanceData;
    case 0x80000005u:
      return seed::kCurrentConfig;
    case 0x80000006u:
      return seed::kDynData;
    default:
      return 0;
  }
}

}  // namespace corvane::platform::emulated
