// CRegNode: one registry key as an object. It holds an open handle, the name
// the key was reached by and the access mask it opens keys with; it counts,
// lists, creates and deletes subkeys and values, and walks key trees.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "variant/Variant.h"

namespace corvane {

class CRegItem;
class IUseRegItems;

// Nodes live in std::shared_ptr only (made by New(), Nodes() or AddNode()):
// items and walks keep their node alive with a reference of their own.
//
// Properties: a read is the bare name (Name(), Key(), Access(), Value(),
// ItemCount(), NodeCount()); a write is SetKey(), SetAccess(), SetValue().
// SetName() and SetHandle() are not property writes but the node's two
// internal operations, private to it.
//
// Every failed registry call is raised as a RaisedError (MErrors::ApiRaiseIf).
//
// Re-targeting (Create, SetKey) closes the handle the node held before and
// forgets the cached counts: a node re-targeted in a loop holds one handle,
// and never answers the counts of the key it left. The predefined roots are
// never closed; they belong to the process, not to the node.
class CRegNode : public std::enable_shared_from_this<CRegNode> {
  // Keeps construction to New() while letting make_shared reach the
  // constructor; explicit so that `{}` cannot stand in for it.
  struct Passkey {
    explicit Passkey() = default;
  };

 public:
  using HKEY = platform::HKEY;
  using REGSAM = platform::REGSAM;

  // A new node works on HKEY_CURRENT_USER with KEY_ALL_ACCESS, nameless.
  static std::shared_ptr<CRegNode> New();
  explicit CRegNode(Passkey) {}
  // Closes the handle; a failed close is dropped (nobody could take it).
  ~CRegNode();
  CRegNode(const CRegNode&) = delete;
  CRegNode& operator=(const CRegNode&) = delete;

  // Opens (never creates) the key `vIndex` below `RootKey`: a string is a
  // path, a 16- or 32-bit integer the position of a subkey. AccessRights is
  // stored unmasked before anything can fail. After a failed open the node
  // keeps the new name and a null handle.
  void Create(const Variant& vIndex, HKEY RootKey = platform::HKEY_CURRENT_USER,
              REGSAM AccessRights = platform::KEY_ALL_ACCESS);

  const std::wstring& Name() const { return sName_; }

  // The handle as a 32-bit integer. (The property's optional RootKey
  // argument has no effect and is therefore not offered.)
  Variant Key() const;
  // Re-targets the node. A string opens that path below the current key; any
  // other kind is converted to a 32-bit integer and taken as a handle to
  // reopen (a predefined root also names the node after itself).
  void SetKey(const Variant& vKey);
  // As above, below `RootKey`: a string opens that path, any other kind is a
  // subkey position. A RootKey of 0xFFFFFFFF means "not given".
  void SetKey(HKEY RootKey, const Variant& vKey);

  REGSAM Access() const { return afAccess_; }
  // Keeps only the bits of KEY_ALL_ACCESS.
  void SetAccess(REGSAM afAccessA);

  // The key's default value (Empty when there is none).
  Variant Value();
  void SetValue(const Variant& vValueA);

  // Both counts come from one registry query, on the first request of
  // either; later requests answer from the cache even when the key changed.
  std::int32_t ItemCount();
  std::int32_t NodeCount();

  // A new node on a subkey: a string is a name or relative path, anything
  // else a position. The child opens with this node's access mask.
  std::shared_ptr<CRegNode> Nodes(const Variant& vIndexA);
  // A new item on the default value, or on a value by name (string) or
  // position (16- or 32-bit integer); any other kind raises 13.
  std::shared_ptr<CRegItem> Items();
  std::shared_ptr<CRegItem> Items(const Variant& Index);
  // Creates every missing level of `sNameA` (or opens it) and returns a node
  // on it.
  std::shared_ptr<CRegNode> AddNode(const std::wstring& sNameA);
  // Deletes a subkey, by default with its whole subtree. Returns false when
  // the registry refuses with access denied (which is also how a subkey with
  // subkeys is refused when AllChild is false). Null counts as false.
  bool RemoveNode(const Variant& vNode);
  bool RemoveNode(const Variant& vNode, const Variant& AllChild);
  bool RemoveNode(const Variant& vNode, bool AllChild);
  // Writes `vValue` (value first, name second); no name is the default value.
  void AddItem(const Variant& vValue);
  void AddItem(const Variant& vValue, const std::wstring& ItemName);
  // Deletes a value by name or position; none given is the default value.
  void RemoveItem();
  void RemoveItem(const Variant& Index);

  // Offers each subkey to `use` at level iLevel + 1 in position order; the
  // first one accepted comes back as a fresh node on it, else nullptr.
  std::shared_ptr<CRegNode> WalkNodes(IUseRegItems& use, std::int32_t iLevel);
  // The same over the values, with UseItem.
  std::shared_ptr<CRegItem> WalkItems(IUseRegItems& use, std::int32_t iLevel);
  // Pre-order, depth first over the tree of `nodeStart` (visited itself at
  // iLevel); returns the first node accepted (nodeStart itself, if it is),
  // else nullptr. Any node will do to carry the call.
  std::shared_ptr<CRegNode> WalkAllNodes(
      IUseRegItems& use, const std::shared_ptr<CRegNode>& nodeStart,
      std::int32_t iLevel);

 private:
  void SetName(const std::wstring& name) { sName_ = name; }
  void SetHandle(HKEY handle) { hKey_ = handle; }

  // Opens `subKey` below `root` and makes the result (null when the open
  // fails) the node's key, closing the key it held before; returns the
  // status of the open.
  platform::LONG Retarget(HKEY root, const char* subKey);
  // Retarget to sName_ below `root`, or the status of its conversion to the
  // code page, with the node's key let go.
  platform::LONG RetargetByName(HKEY root);
  // Makes `handle` the node's key, closing the one it held and forgetting
  // the cached counts.
  void Adopt(HKEY handle);
  // Looks up the subkey name at `vPosition` below `root` into sName_.
  void NameAtPosition(HKEY root, const Variant& vPosition);
  void ReadCounts();

  HKEY hKey_ = platform::HKEY_CURRENT_USER;
  std::wstring sName_;
  REGSAM afAccess_ = platform::KEY_ALL_ACCESS;
  std::int32_t cItems_ = -1;
  std::int32_t cNodes_ = -1;
};

}  // namespace corvane
