// A key and a value as the view holds them, and the small operations on a
// cached key that loading and changing it share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/RegistryNames.h"
#include "platform/Platform.h"
#include "platform/emulated/store/Row.h"
#include "platform/emulated/view/ChunkedVector.h"

namespace corvane::platform::emulated {

struct CachedValue {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  std::int64_t ord = 0;
};

struct CachedKey {
  struct Child {
    std::int64_t id;
    // The subkey's entry in the same view: a subkey leaves the view only
    // after it left this list, or with the whole view. A list is in the
    // order of its subkeys' names (base::CompareNames).
    CachedKey* key;
  };

  // Folded name -> id or creation order. Most keys never need one, and a
  // view holds a key for every key a walk passes: made on first use.
  using ByFold = std::unique_ptr<std::unordered_map<std::string, std::int64_t>>;

  std::int64_t id = 0;
  std::int64_t parent = 0;
  std::u16string name;
  std::uint64_t lastWrite = 0;
  bool isVolatile = false;

  // Subkeys in the registry's order, once all are known (childrenLoaded);
  // before that, those looked up one by one in `lookups` (id, 0 for none).
  bool childrenLoaded = false;
  // Values in creation order, once loaded; `valueOrds` finds them by name
  // once there are more than a few (see View::FindOrd).
  bool valuesLoaded = false;
  // Longest subkey name, subkey class, value name and value data; recounted
  // after a change.
  bool maximaKnown = false;
  std::uint32_t maxChildName = 0, maxChildClass = 0, maxValueName = 0,
                maxValueData = 0;
  // The position last enumerated: a walk opens that subkey next.
  std::uint32_t listed = 0;
  ChunkedVector<Child> children;
  ByFold lookups;
  ChunkedVector<CachedValue> values;
  ByFold valueOrds;
  // Few keys have a class: one is held only when there is (see ClassName).
  std::unique_ptr<std::u16string> classText;

  std::u16string_view ClassName() const {
    return classText ? std::u16string_view(*classText) : std::u16string_view();
  }
  void SetClassName(std::u16string text) {
    if (text.empty()) {
      classText.reset();
    } else {
      classText = std::make_unique<std::u16string>(std::move(text));
    }
  }
};

// The key's subkeys looked up one by one, made when first needed.
inline std::unordered_map<std::string, std::int64_t>& Lookups(CachedKey& key) {
  if (!key.lookups) {
    key.lookups = std::make_unique<CachedKey::ByFold::element_type>();
  }
  return *key.lookups;
}

// Whether a subkey list's entry comes before the name, in its order.
inline bool Before(const CachedKey::Child& c, std::u16string_view name) {
  return base::CompareNames(c.key->name, name) < 0;
}

// A value loaded from the store, after those of the key already cached.
inline void AppendValue(CachedKey& key, ValueRow&& row) {
  if (key.valueOrds) key.valueOrds->emplace(FoldKey(row.name), row.ord);
  key.values.Insert(
      key.values.Size(),
      CachedValue{std::move(row.name), row.type, std::move(row.data), row.ord});
}

}  // namespace corvane::platform::emulated
