// The emulated registry's state in this process: the store, this process's
// view of it and the handle table, behind one mutex.
//
// Every registry function holds the lock (RegistryLock) for its whole call,
// so the functions may be called from any thread, and runs as one Read or
// one Write of the view: atomic, and seen by every process once it returns.
// A function that calls another registry function releases the lock first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/store/Seed.h"
#include "platform/emulated/store/Store.h"
#include "platform/emulated/view/View.h"

namespace corvane::platform::emulated {

// Handle values: multiples of 4 as Windows hands them out, never reused
// within a process, so a closed handle stays invalid. A handle opened
// through HKEY_CLASSES_ROOT carries Windows' tag in its low two bits
// (kClassesTag); the handle table keys them without it, so every call takes
// either spelling.
inline constexpr HKEY kFirstHandle = 0x100;
inline constexpr HKEY kLastHandle = 0x7FFFFFFC;
inline constexpr HKEY kTagBits = 3;
inline constexpr HKEY kClassesTag = 2;

// The registry view bits of a REGSAM: a call or handle of the 32-bit view,
// or of the 64-bit one (Wow64Paths.h).
inline constexpr REGSAM kViewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;

// Keys that stand for predefined keys: they can be emptied, never deleted.
inline constexpr std::int64_t kProtectedIds[] = {
    seed::kMachineSoftware, seed::kMachineClasses, seed::kUserSoftware,
    seed::kUserClasses};

// The subkeys a key shows through HKEY_CLASSES_ROOT, as they stood when the
// store's change counter read `at` (odd: not worked out yet).
struct MergedList {
  std::uint64_t at = 1;
  std::vector<std::int64_t> ids;
  std::size_t maxName = 0, maxClass = 0;
};

// The values a key shows through HKEY_CLASSES_ROOT: the user's copy's in
// creation order, then those of the machine's copy the user's lacks. Good
// while the counter reads `at` (even) and the view's generation is `seen`.
struct MergedValues {
  std::uint64_t at = 1;
  std::uint64_t seen = 0;
  std::vector<const CachedValue*> values;
};

// What a handle opened through HKEY_CLASSES_ROOT keeps: its key is the
// merged view's at `path` below the Classes keys, found again at each call
// (the user's copy while there is one, else the machine's; `at` is the
// counter when it was last found), and its paths, subkeys and values are
// those of the merged view.
struct MergedState {
  std::vector<std::u16string> path;
  std::uint64_t at = 1;
  MergedList list;
  MergedValues values;
};

// An open handle's entry in the handle table: its key and the rights it
// was granted.
struct HandleEntry {
  std::int64_t id = 0;
  REGSAM granted = 0;
  // The view it was opened in, which paths below it keep (0: the
  // program's, as for a predefined key).
  REGSAM view = 0;
  // Set for a handle opened through HKEY_CLASSES_ROOT, kept apart so that
  // the entries of other handles stay small.
  std::unique_ptr<MergedState> merged;
  // Set for a handle of the 32-bit view whose key's listing adds shared
  // keys (ListSubkeys): that list, while the counter still reads its `at`.
  std::unique_ptr<MergedList> shared;
  // Set once such a handle's key was found to have no shared keys to list:
  // its listings are its key's, with no path to work out.
  bool noShared = false;
  // The key's entry in the view, good while the view's generation is
  // `seen` (and, for a merged key, the counter still reads merged->at):
  // spares a lookup on every call through the handle.
  CachedKey* key = nullptr;
  std::uint64_t seen = 0;
};

struct Registry {
  std::mutex mutex;
  Store store;
  View view{store};
  bool readOnly = false;
  // The view this program's calls are in unless they say otherwise
  // (ProgramView).
  REGSAM programView = KEY_WOW64_64KEY;
  // Ordered: a process holds few handles at once, and a short tree search
  // beats hashing on every call.
  std::map<HKEY, HandleEntry> handles;
  // What HKEY_CLASSES_ROOT itself stands for: the machine's Classes key, as
  // the predefined handle is opened on Windows, seen merged.
  HandleEntry classesRoot = [] {
    HandleEntry entry;
    entry.id = seed::kMachineClasses;
    entry.granted = KEY_ALL_ACCESS;
    entry.merged = std::make_unique<MergedState>();
    return entry;
  }();
  HKEY nextHandle = kFirstHandle;
  // RegOverridePredefKey: the predefined keys this process has pointed
  // elsewhere, each to a handle of the table's own that the caller never
  // sees.
  std::map<HKEY, HKEY> overrides;
};

// Never destroyed: calls from other static destructors must still find it.
Registry& State();

// Whether this process runs as one without elevation
// (CORVANE_REGISTRY_READONLY=1).
bool ReadOnlyRequested();

// The program's own view: the 32-bit one where pointers are 4 bytes, else
// the 64-bit one, unless CORVANE_REGISTRY_PROGRAM_BITS is 32 or 64.
REGSAM ProgramView();

// The view a call uses: its own flag, else its handle's, else the
// program's. Both flags at once ask for the 32-bit view, as Wine takes
// them.
inline REGSAM CallView(const Registry& registry, REGSAM flags,
                       const HandleEntry* open) {
  if ((flags & KEY_WOW64_32KEY) != 0) return KEY_WOW64_32KEY;
  if ((flags & KEY_WOW64_64KEY) != 0) return KEY_WOW64_64KEY;
  if (open != nullptr && open->view != 0) return open->view;
  return registry.programView;
}

// The registry, locked for one call.
class RegistryLock {
 public:
  RegistryLock() : registry_(State()), lock_(registry_.mutex) {}
  Registry& operator*() { return registry_; }
  Registry* operator->() { return &registry_; }

 private:
  Registry& registry_;
  std::lock_guard<std::mutex> lock_;
};

template <class Body>
LONG Read(Registry& registry, Body&& body) {
  return registry.view.Read(body);
}

template <class Body>
LONG Write(Registry& registry, Body&& body, bool durable = false) {
  return registry.view.Write(body, durable);
}

// What the process forgets when its store is bound to another path: its
// handles and what they remembered. The real entry of CallHooks::forget.
void ForgetHandles(Registry& registry);

}  // namespace corvane::platform::emulated
