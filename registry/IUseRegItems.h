// IUseRegItems: the visitor that the walks of CRegNode hand each subkey or
// value to. Answering true accepts the entry and ends the walk there.
#pragma once

#include <cstdint>
#include <memory>

namespace corvane {

class CRegNode;
class CRegItem;

// Usable as it is (it accepts nothing, so a walk with it just visits
// everything); a visitor overrides the operations it cares about.
class IUseRegItems {
 public:
  virtual ~IUseRegItems() = default;

  // `node` stands on the visited key; a visitor may keep the reference.
  virtual bool UseNode(const std::shared_ptr<CRegNode>& node,
                       std::int32_t iLevel) {
    (void)node;
    (void)iLevel;
    return false;
  }
  // `item` holds the visited value as it was read for this visit.
  virtual bool UseItem(const std::shared_ptr<CRegItem>& item,
                       std::int32_t iLevel) {
    (void)item;
    (void)iLevel;
    return false;
  }
};

}  // namespace corvane
