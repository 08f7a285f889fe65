// CRegNode: opening, naming, counting and changing one registry key, and the
// walks over its subkeys, its values and its whole tree.
#include "registry/CRegNode.h"

#include <limits>
#include <string>

#include "base/RootKeys.h"
#include "errors/MErrors.h"
#include "errors/RuntimeError.h"
#include "registry/CRegItem.h"
#include "registry/IUseRegItems.h"
#include "registry/MRegTool.h"

namespace corvane {

using namespace platform;

namespace {

// The "not given" value of the optional RootKey of SetKey.
constexpr HKEY kNoRootKey = 0xFFFFFFFFu;

bool IsPredefined(HKEY hKey) {
  return hKey >= HKEY_CLASSES_ROOT && hKey <= HKEY_DYN_DATA;
}

// Closes a handle the node owns. The predefined roots are shared by the whole
// process and stay open; the status is of no use to anyone here: the handle
// is given up either way.
void CloseOwned(HKEY hKey) {
  if (hKey != 0 && !IsPredefined(hKey)) RegCloseKey(hKey);
}

// The level of an entry one step below `iLevel`.
std::int32_t NextLevel(std::int32_t iLevel) {
  if (iLevel == std::numeric_limits<std::int32_t>::max()) {
    RaiseRuntimeError(kOverflow);
  }
  return iLevel + 1;
}

}  // namespace

std::shared_ptr<CRegNode> CRegNode::New() {
  return std::make_shared<CRegNode>(Passkey{});
}

CRegNode::~CRegNode() { CloseOwned(hKey_); }

void CRegNode::Create(const Variant& vIndex, HKEY RootKey,
                      REGSAM AccessRights) {
  afAccess_ = AccessRights;
  if (vIndex.IsInteger()) {
    NameAtPosition(RootKey, vIndex);
  } else if (vIndex.IsString()) {
    sName_ = vIndex.AsString();
  } else {
    MErrors::ApiRaise(ERROR_INVALID_DATA);
  }
  MErrors::ApiRaiseIf(RetargetByName(RootKey));
}

Variant CRegNode::Key() const {
  return Variant(static_cast<std::int32_t>(hKey_));
}

void CRegNode::SetKey(const Variant& vKey) {
  if (vKey.IsString()) {
    sName_ = vKey.AsString();
    MErrors::ApiRaiseIf(RetargetByName(hKey_));
    return;
  }
  // A handle: reopening it gives the node a handle of its own (or, for a
  // predefined root, the root itself).
  const auto handle = static_cast<HKEY>(vKey.ToLong());
  const LONG status = Retarget(handle, nullptr);
  if (const base::RootKey* root = base::RootKeyOf(hKey_)) {
    sName_.assign(root->name.begin(), root->name.end());
  }
  MErrors::ApiRaiseIf(status);
}

void CRegNode::SetKey(HKEY RootKey, const Variant& vKey) {
  if (RootKey == kNoRootKey) {
    SetKey(vKey);
    return;
  }
  if (vKey.IsString()) {
    sName_ = vKey.AsString();
  } else {
    NameAtPosition(RootKey, vKey);
  }
  MErrors::ApiRaiseIf(RetargetByName(RootKey));
}

void CRegNode::SetAccess(REGSAM afAccessA) {
  afAccess_ = afAccessA & KEY_ALL_ACCESS;
}

Variant CRegNode::Value() { return Items()->Value(); }

void CRegNode::SetValue(const Variant& vValueA) { Items()->SetValue(vValueA); }

std::int32_t CRegNode::ItemCount() {
  if (cItems_ == -1) ReadCounts();
  return cItems_;
}

std::int32_t CRegNode::NodeCount() {
  if (cNodes_ == -1) ReadCounts();
  return cNodes_;
}

std::shared_ptr<CRegNode> CRegNode::Nodes(const Variant& vIndexA) {
  auto child = New();
  child->SetAccess(afAccess_);
  child->SetKey(hKey_, vIndexA);
  return child;
}

std::shared_ptr<CRegItem> CRegNode::Items() { return Items(Variant(L"")); }

std::shared_ptr<CRegItem> CRegNode::Items(const Variant& Index) {
  auto item = CRegItem::New();
  item->Create(shared_from_this(), Index);
  return item;
}

std::shared_ptr<CRegNode> CRegNode::AddNode(const std::wstring& sNameA) {
  // Made before the key, so that nothing can fail between opening the key
  // and handing its handle to its owner.
  auto child = New();
  std::string subKey;
  MErrors::ApiRaiseIf(WideToAnsi(sNameA, subKey));
  char noClass[] = "";
  HKEY created = 0;
  DWORD disposition = 0;
  MErrors::ApiRaiseIf(RegCreateKeyExA(hKey_, subKey.c_str(), 0, noClass,
                                      REG_OPTION_NON_VOLATILE, afAccess_,
                                      nullptr, &created, &disposition));
  child->SetAccess(afAccess_);
  child->SetHandle(created);
  child->SetName(sNameA);
  return child;
}

bool CRegNode::RemoveNode(const Variant& vNode) {
  return RemoveNode(vNode, true);
}

bool CRegNode::RemoveNode(const Variant& vNode, const Variant& AllChild) {
  return RemoveNode(vNode, AllChild.IsNull() ? false : AllChild.ToBool());
}

bool CRegNode::RemoveNode(const Variant& vNode, bool AllChild) {
  std::wstring name;
  {
    // Opening the child first makes a missing subkey fail as an open, and
    // turns a position into the name to delete.
    const auto child = Nodes(vNode);
    name = child->Name();
  }
  const LONG status = AllChild ? MRegTool::RemoveKeyTree(hKey_, name)
                               : MRegTool::RemoveKey(hKey_, name);
  if (status == ERROR_ACCESS_DENIED) return false;
  MErrors::ApiRaiseIf(status);
  return true;
}

void CRegNode::AddItem(const Variant& vValue) { AddItem(vValue, L""); }

void CRegNode::AddItem(const Variant& vValue, const std::wstring& ItemName) {
  std::wstring name = ItemName;
  MErrors::ApiRaiseIf(MRegTool::WriteValue(vValue, hKey_, name));
}

void CRegNode::RemoveItem() { RemoveItem(Variant(L"")); }

void CRegNode::RemoveItem(const Variant& Index) {
  // By position this is how the stored name is found; by name it is the name
  // given, whether or not such a value exists.
  const std::wstring name = Items(Index)->Name();
  std::string valueName;
  MErrors::ApiRaiseIf(WideToAnsi(name, valueName));
  MErrors::ApiRaiseIf(RegDeleteValueA(hKey_, valueName.c_str()));
}

std::shared_ptr<CRegNode> CRegNode::WalkNodes(IUseRegItems& use,
                                              std::int32_t iLevel) {
  const auto self = shared_from_this();  // the visitor may drop the caller's
  const std::int32_t count = NodeCount();
  for (std::int32_t position = 0; position < count; ++position) {
    bool accepted;
    {
      const auto child = Nodes(Variant(position));
      accepted = use.UseNode(child, NextLevel(iLevel));
    }
    if (accepted) return Nodes(Variant(position));
  }
  return nullptr;
}

std::shared_ptr<CRegItem> CRegNode::WalkItems(IUseRegItems& use,
                                              std::int32_t iLevel) {
  const auto self = shared_from_this();
  const std::int32_t count = ItemCount();
  for (std::int32_t position = 0; position < count; ++position) {
    bool accepted;
    {
      const auto item = Items(Variant(position));
      accepted = use.UseItem(item, NextLevel(iLevel));
    }
    if (accepted) return Items(Variant(position));
  }
  return nullptr;
}

std::shared_ptr<CRegNode> CRegNode::WalkAllNodes(
    IUseRegItems& use, const std::shared_ptr<CRegNode>& nodeStart,
    std::int32_t iLevel) {
  if (!nodeStart) RaiseRuntimeError(kObjectNotSet);
  if (use.UseNode(nodeStart, iLevel)) return nodeStart;
  const std::int32_t count = nodeStart->NodeCount();
  for (std::int32_t position = 0; position < count; ++position) {
    const auto child = nodeStart->Nodes(Variant(position));
    auto found = WalkAllNodes(use, child, NextLevel(iLevel));
    if (found) return found;
  }
  return nullptr;
}

LONG CRegNode::RetargetByName(HKEY root) {
  std::string subKey;
  if (const LONG status = WideToAnsi(sName_, subKey)) {
    // Fails as an open would: the new name and no key. Opening what's left
    // of a name that didn't convert could reach another key, or the root.
    Adopt(0);
    return status;
  }
  return Retarget(root, subKey.c_str());
}

LONG CRegNode::Retarget(HKEY root, const char* subKey) {
  // Opened before the old handle is closed: the root may be that handle.
  HKEY opened = 0;
  const LONG status = RegOpenKeyExA(root, subKey, 0, afAccess_, &opened);
  Adopt(opened);
  return status;
}

void CRegNode::Adopt(HKEY handle) {
  const HKEY previous = hKey_;
  hKey_ = handle;
  cItems_ = -1;
  cNodes_ = -1;
  if (previous != handle) CloseOwned(previous);
}

void CRegNode::NameAtPosition(HKEY root, const Variant& vPosition) {
  const std::int32_t position = vPosition.ToLong();
  MErrors::ApiRaiseIf(MRegTool::EnumKeyName(root, position, sName_));
}

void CRegNode::ReadCounts() {
  DWORD subKeys = 0;
  DWORD values = 0;
  MErrors::ApiRaiseIf(RegQueryInfoKeyA(hKey_, nullptr, nullptr, nullptr,
                                       &subKeys, nullptr, nullptr, &values,
                                       nullptr, nullptr, nullptr, nullptr));
  cNodes_ = static_cast<std::int32_t>(subKeys);
  cItems_ = static_cast<std::int32_t>(values);
}

}  // namespace corvane
