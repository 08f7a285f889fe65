// The seeded key a predefined key stands for, by the predefined key's value
// (its handle's low 32 bits): what a .reg file's root names and what a
// registry call's predefined handle opens.
#pragma once

#include <cstdint>
#include <iterator>

#include "platform/Platform.h"
#include "platform/emulated/store/Seed.h"

namespace corvane::platform::emulated {

// HKEY_CLASSES_ROOT stands for the machine's classes; HKEY_CURRENT_USER to
// HKEY_DYN_DATA for the root keys; 0 for any other value.
constexpr std::int64_t RootKeyId(std::uint32_t value) {
  constexpr std::int64_t kIds[] = {seed::kMachineClasses,  seed::kCurrentUser,
                                   seed::kLocalMachine,    seed::kUsers,
                                   seed::kPerformanceData, seed::kCurrentConfig,
                                   seed::kDynData};
  static_assert(std::size(kIds) == HKEY_DYN_DATA - HKEY_CLASSES_ROOT + 1);
  return value >= HKEY_CLASSES_ROOT && value <= HKEY_DYN_DATA
             ? kIds[value - HKEY_CLASSES_ROOT]
             : 0;
}

}  // namespace corvane::platform::emulated
