// HKEY_CLASSES_ROOT's merged view (MergedClasses.h).
#include "platform/emulated/calls/MergedClasses.h"

#include <algorithm>
#include <utility>

#include "base/RegistryNames.h"

namespace corvane::platform::emulated {

LONG ClassPath(Registry& registry, CachedKey* key,
               std::vector<std::u16string>& parts) {
  std::vector<std::u16string> up;
  while (key->id != seed::kMachineClasses && key->id != seed::kUserClasses) {
    // Only keys found through the merged view are asked about.
    if (key->parent == 0) return ERROR_BADKEY;
    up.push_back(key->name);
    if (const LONG status = registry.view.Key(key->parent, key)) return status;
  }
  parts.assign(up.rbegin(), up.rend());
  return ERROR_SUCCESS;
}

LONG Descend(Registry& registry, std::int64_t from,
             const std::vector<std::u16string>& parts, CachedKey*& key) {
  if (const LONG status = registry.view.Key(from, key)) return status;
  for (const auto& part : parts) {
    if (const LONG status = registry.view.Child(*key, part, key)) return status;
    if (key == nullptr) break;
  }
  return ERROR_SUCCESS;
}

namespace {

// The user's and the machine's copy of the classes key `key` stands for;
// null where that copy doesn't exist.
LONG BothCopies(Registry& registry, CachedKey* key, CachedKey*& user,
                CachedKey*& machine) {
  std::vector<std::u16string> parts;
  if (const LONG status = ClassPath(registry, key, parts)) return status;
  if (const LONG status = Descend(registry, seed::kUserClasses, parts, user)) {
    return status;
  }
  return Descend(registry, seed::kMachineClasses, parts, machine);
}

}  // namespace

LONG MergedKey(Registry& registry, const std::vector<std::u16string>& parts,
               CachedKey*& key) {
  if (const LONG status = Descend(registry, seed::kUserClasses, parts, key)) {
    return status;
  }
  if (key != nullptr) return ERROR_SUCCESS;
  return Descend(registry, seed::kMachineClasses, parts, key);
}

LONG ResolveMerged(Registry& registry, HandleEntry& open, CachedKey*& key) {
  const std::uint64_t stamp = registry.view.Stamp();
  const std::uint64_t generation = registry.view.Generation();
  if (open.key != nullptr && open.seen == generation &&
      open.merged->at == stamp && (stamp & 1) == 0) {
    key = open.key;
    return ERROR_SUCCESS;
  }
  if (open.merged->path.empty()) {
    if (const LONG status = registry.view.Key(seed::kMachineClasses, key)) {
      return status;
    }
  } else if (const LONG status = MergedKey(registry, open.merged->path, key)) {
    return status;
  }
  if (key == nullptr) return ERROR_KEY_DELETED;
  open.id = key->id;
  open.key = key;
  open.seen = registry.view.Generation();
  open.merged->at = stamp;
  return ERROR_SUCCESS;
}

LONG MergedValueList(Registry& registry, CachedKey* key, HandleEntry& open,
                     const std::vector<const CachedValue*>*& list) {
  list = &open.merged->values.values;
  const std::uint64_t stamp = registry.view.Stamp();
  if (open.merged->values.at == stamp && (stamp & 1) == 0 &&
      open.merged->values.seen == registry.view.Generation()) {
    return ERROR_SUCCESS;
  }
  CachedKey* user = nullptr;
  CachedKey* machine = nullptr;
  if (const LONG status = BothCopies(registry, key, user, machine)) {
    return status;
  }
  for (CachedKey* copy : {user, machine}) {
    if (copy == nullptr) continue;
    if (const LONG status = registry.view.LoadValues(*copy)) return status;
  }
  std::vector<const CachedValue*> values;
  if (user != nullptr) {
    user->values.ForEach(
        [&values](const CachedValue& v) { values.push_back(&v); });
  }
  if (machine != nullptr) {
    machine->values.ForEach([&](const CachedValue& v) {
      if (user == nullptr ||
          registry.view.FindValue(*user, v.name) == nullptr) {
        values.push_back(&v);
      }
    });
  }
  open.merged->values.values = std::move(values);
  open.merged->values.at = stamp;
  open.merged->values.seen = registry.view.Generation();
  return ERROR_SUCCESS;
}

namespace {

// The children of both copies in the registry's order, each name once: the
// user's child where both have one. Either copy may be missing (nullptr).
std::vector<std::int64_t> MergeChildren(const CachedKey* user,
                                        const CachedKey* machine) {
  const std::size_t users = user ? user->children.Size() : 0;
  const std::size_t machines = machine ? machine->children.Size() : 0;
  std::vector<std::int64_t> ids;
  ids.reserve(std::max(users, machines));
  std::size_t u = 0, m = 0;
  while (u < users || m < machines) {
    if (u == users) {
      ids.push_back(machine->children.At(m++).id);
      continue;
    }
    const CachedKey::Child& mine = user->children.At(u);
    if (m < machines) {
      const CachedKey::Child& theirs = machine->children.At(m);
      const int order = base::CompareNames(theirs.key->name, mine.key->name);
      if (order < 0) {
        ids.push_back(theirs.id);
        ++m;
        continue;
      }
      if (order == 0) ++m;
    }
    ids.push_back(mine.id);
    ++u;
  }
  return ids;
}

}  // namespace

LONG MergedChildren(Registry& registry, CachedKey* key, HandleEntry& open,
                    std::uint64_t stamp, const MergedList*& list) {
  list = &open.merged->list;
  if (open.merged->list.at == stamp && (stamp & 1) == 0) return ERROR_SUCCESS;
  CachedKey* user = nullptr;
  CachedKey* machine = nullptr;
  if (const LONG status = BothCopies(registry, key, user, machine)) {
    return status;
  }
  for (CachedKey* copy : {user, machine}) {
    if (copy == nullptr) continue;
    if (const LONG status = registry.view.LoadChildren(*copy)) return status;
  }
  MergedList merged;
  merged.ids = MergeChildren(user, machine);
  for (const std::int64_t id : merged.ids) {
    CachedKey* child = nullptr;
    if (const LONG status = registry.view.Key(id, child)) return status;
    merged.maxName = std::max(merged.maxName, child->name.size());
    merged.maxClass = std::max(merged.maxClass, child->ClassName().size());
  }
  merged.at = stamp;
  open.merged->list = std::move(merged);
  return ERROR_SUCCESS;
}

}  // namespace corvane::platform::emulated
