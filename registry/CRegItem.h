// CRegItem: one value of a registry key, as it was read when the item was
// made, with the means to store a new content and to count the key's values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "variant/Variant.h"

namespace corvane {

class CRegNode;

// Items are handed out by CRegNode::Items (and the walks), which create them
// at once. An item is a snapshot: its Name() and Value() never follow the
// registry, its own SetValue() included. It holds no handle of its own but
// asks its node for the current one, so Count() and SetValue() follow a node
// that has been re-targeted since.
//
// Properties: Count(), Name() and Value() are reads, SetValue() the write.
class CRegItem {
  struct Passkey {
    explicit Passkey() = default;
  };

 public:
  static std::shared_ptr<CRegItem> New();
  explicit CRegItem(Passkey) {}

  // Reads the value `vIndex` of `nodeA`'s key: a string is a name (a missing
  // value reads as Empty, without error), a 16- or 32-bit integer a position
  // (the name as stored comes with it). Any other kind raises 13, after the
  // node has been taken.
  void Create(const std::shared_ptr<CRegNode>& nodeA, const Variant& vIndex);
  // Kept for callers that end an item's use explicitly; the item stays
  // usable until its last reference goes.
  void Destroy() {}

  // The node's value count (cached by the node). An item that was never
  // created raises 6: it has no key.
  std::int32_t Count() const;
  const std::wstring& Name() const { return name_; }
  // The content as Create read it; the registry is not asked again.
  Variant Value() const { return value_; }
  // Stores `vValueA` under the item's name in the node's current key and
  // flushes the key. The item's own Value() is left as it was.
  void SetValue(const Variant& vValueA);

 private:
  // The node's current handle; raises 6 when there is no node.
  platform::HKEY NodeHandle() const;

  std::shared_ptr<CRegNode> node_;
  Variant value_;
  std::wstring name_;
};

}  // namespace corvane
