// Hive files in the emulated registry: RegSaveKey(Ex), RegLoadKey,
// RegUnLoadKey, RegRestoreKey and RegReplaceKey (defined in
// RegistryHives.cpp), and what RegFlushKey asks of a loaded hive.
//
// A loaded hive's keys live in the store as ordinary keys below their mount
// key (store/Mounts.h): a write to them commits as any write does and every
// process sees it through the change counter. The hive's file receives them
// at RegFlushKey on a key of the hive, at RegUnLoadKey, and at the first
// open of the store in a later boot, which also unloads it.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "platform/emulated/calls/RegistryState.h"

namespace corvane::platform::emulated {

// Inside a Write: when the key `id` lies in a loaded hive, the hive's file
// is written with what the store holds of it now.
LONG WriteBackHiveOf(Registry& registry, std::int64_t id);

// Whether `key` is the key a hive is loaded as, which RegUnLoadKey removes
// and no delete may (inside a Read or Write).
bool IsLoadedHive(Registry& registry, const CachedKey& key);

}  // namespace corvane::platform::emulated
