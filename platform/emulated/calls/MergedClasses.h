// HKEY_CLASSES_ROOT's merged view: the user's classes
// (HKEY_CURRENT_USER\Software\Classes) over the machine's
// (HKEY_LOCAL_MACHINE\SOFTWARE\Classes). A key found through it is the
// user's copy when there is one, else the machine's; its subkeys are both
// copies', each name once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/calls/RegistryState.h"
#include "platform/emulated/view/View.h"

namespace corvane::platform::emulated {

// The path of a key of the merged view below whichever Classes key holds it.
LONG ClassPath(Registry& registry, CachedKey* key,
               std::vector<std::u16string>& parts);

// The key `parts` names below the key `from`, or nullptr.
LONG Descend(Registry& registry, std::int64_t from,
             const std::vector<std::u16string>& parts, CachedKey*& key);

// The merged view's key at `parts` below the Classes keys: the user's copy
// when there is one, else the machine's, else nullptr.
LONG MergedKey(Registry& registry, const std::vector<std::u16string>& parts,
               CachedKey*& key);

// The key a handle opened through HKEY_CLASSES_ROOT stands for at this
// call: the user's copy at its path while there is one, else the
// machine's; ERROR_KEY_DELETED when neither is left. An empty path is the
// machine's Classes key, as HKEY_CLASSES_ROOT itself is.
LONG ResolveMerged(Registry& registry, HandleEntry& open, CachedKey*& key);

// The values of a merged key (`key`, the copy the handle stands for now):
// the user's copy's in creation order, then the machine's copy's that the
// user's lacks, each name once. Kept in `open` while the store and the view
// stay as they were.
LONG MergedValueList(Registry& registry, CachedKey* key, HandleEntry& open,
                     const std::vector<const CachedValue*>*& list);

// The subkeys of a merged key: the user's copy's and those of the machine's
// copy the user lacks, one list in the registry's order, a name both hold
// standing for the user's key. Worked out again only when the store changed
// since `stamp`, the counter read before the call began: a list made from a
// later state than its stamp is merely made again.
LONG MergedChildren(Registry& registry, CachedKey* key, HandleEntry& open,
                    std::uint64_t stamp, const MergedList*& list);

}  // namespace corvane::platform::emulated
