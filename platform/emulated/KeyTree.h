// The emulated registry's tree of keys and values, in memory: what the
// registry functions answer from and what the hive file is read into and
// written from.
//
// Names are case-preserving and compared case-insensitively, folded to
// uppercase the way Windows compares registry names (ASCII, Latin-1 and the
// common letters of Latin Extended-A, Greek, Cyrillic and fullwidth forms; no
// folding that changes a name's length). Subkeys are kept in case-insensitive
// sorted order, values in the order they were first created. Finding a child
// or value by name and reaching one by position both cost O(log n), so a walk
// over n keys by position costs O(n log n), never O(n^2).
//
// Not thread-safe by itself: the registry functions hold one mutex around
// every use of the tree, LoadHive and SaveHive included.
//
// Ownership: a KeyTree owns its roots, a node owns its children. Nodes are
// held by std::shared_ptr so that an open registry handle keeps a deleted key
// alive (and answers ERROR_KEY_DELETED through it); raw KeyNode pointers
// handed out here stay valid until that key is removed or the tree cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"

namespace corvane::platform::emulated {

// The uppercase form a name is compared in; FoldName(a) == FoldName(b) when
// Windows takes a and b for the same name.
char16_t FoldChar(char16_t c);
std::u16string FoldName(std::u16string_view name);
// Case-insensitive order of names: < 0, 0 or > 0.
int CompareNames(std::u16string_view a, std::u16string_view b);

struct KeyValue {
  std::u16string name;  // as first created; "" is the key's default value
  DWORD type = REG_NONE;
  // The raw bytes, as the wide registry functions see them: REG_SZ,
  // REG_EXPAND_SZ and REG_MULTI_SZ are UTF-16LE with whatever terminators
  // the writer gave them.
  std::vector<BYTE> data;
};

class KeyTree;

namespace detail {
template <class Key, class T>
class OrderedIndex;
}

class KeyNode : public std::enable_shared_from_this<KeyNode> {
 public:
  KeyNode(KeyTree* tree, KeyNode* parent, std::u16string name, bool isVolatile);
  ~KeyNode();
  KeyNode(const KeyNode&) = delete;
  KeyNode& operator=(const KeyNode&) = delete;

  // The name as created ("HKEY_LOCAL_MACHINE" and so on for a root).
  const std::u16string& Name() const { return name_; }
  // nullptr for a root key and for a key that was deleted.
  KeyNode* Parent() const { return parent_; }
  // A volatile key (REG_OPTION_VOLATILE) lives until the process ends; the
  // hive file leaves it out, and its subtree with it.
  bool IsVolatile() const { return volatile_; }
  // Removed from the tree while something still held it.
  bool IsDeleted() const { return deleted_; }
  // The class string given when the key was created; not kept in the hive.
  const std::u16string& ClassName() const { return class_; }
  void SetClassName(std::u16string className);
  // FILETIME ticks (100 ns since 1601) of the last change to the key, its
  // values or its list of subkeys.
  std::uint64_t LastWriteTime() const { return lastWrite_; }

  // Subkeys, in case-insensitive sorted order.
  std::size_t ChildCount() const;
  // nullptr at or past the end.
  KeyNode* ChildAt(std::size_t index) const;
  // nullptr when there is no child of that name (any case).
  KeyNode* FindChild(std::u16string_view name) const;
  // The child of that name: the existing one (its name and volatility
  // unchanged), or a new one. `created` (optional) tells which.
  KeyNode* CreateChild(std::u16string_view name, bool isVolatile = false,
                       bool* created = nullptr);
  // Takes the child of that name out of the tree with its whole subtree;
  // every key taken out reads IsDeleted(). false when there is no such child.
  bool RemoveChild(std::u16string_view name);
  // All children in sorted order, in O(n).
  std::vector<KeyNode*> Children() const;

  // Values, in creation order.
  std::size_t ValueCount() const;
  // nullptr at or past the end.
  const KeyValue* ValueAt(std::size_t index) const;
  // nullptr when there is no value of that name (any case).
  const KeyValue* FindValue(std::u16string_view name) const;
  // Creates the value, or replaces the type and data of the existing one
  // (which keeps its name's case and its position).
  void SetValue(std::u16string_view name, DWORD type, std::vector<BYTE> data);
  // false when there is no such value.
  bool DeleteValue(std::u16string_view name);
  // All values in creation order, in O(n).
  std::vector<const KeyValue*> Values() const;

  // Longest subkey name, class and value name (UTF-16 units) and largest
  // value data (bytes), as RegQueryInfoKey reports them. O(log n).
  std::size_t MaxChildNameLength() const;
  std::size_t MaxChildClassLength() const;
  std::size_t MaxValueNameLength() const;
  std::size_t MaxValueDataSize() const;

  // Access rights refused to every open of this key: a test hook, never
  // persisted.
  REGSAM DeniedRights() const { return denied_; }
  void SetDeniedRights(REGSAM rights) { denied_ = rights; }

  std::shared_ptr<KeyNode> Shared() { return shared_from_this(); }

 private:
  friend class KeyTree;
  class LengthHistogram;

  void Touch();
  void MarkDeletedSubtree();

  KeyTree* tree_;
  KeyNode* parent_;
  std::u16string name_;
  std::u16string class_;
  bool volatile_;
  bool deleted_ = false;
  REGSAM denied_ = 0;
  std::uint64_t lastWrite_ = 0;
  std::uint64_t nextValueSerial_ = 0;

  // Children in order of their folded names, and the same children by
  // folded name for lookups that need no position.
  std::unique_ptr<
      detail::OrderedIndex<std::u16string, std::shared_ptr<KeyNode>>>
      children_;
  std::unordered_map<std::u16string, KeyNode*> childByName_;
  // Values by creation serial, and the serial of each folded name.
  std::unique_ptr<detail::OrderedIndex<std::uint64_t, KeyValue>> values_;
  std::unordered_map<std::u16string, std::uint64_t> valueSerials_;
  std::unique_ptr<LengthHistogram> childNameLengths_, childClassLengths_,
      valueNameLengths_, valueDataSizes_;
};

class KeyTree {
 public:
  // A fresh installation: the root keys and
  // HKEY_LOCAL_MACHINE\SOFTWARE\Classes\AppID.
  KeyTree();
  ~KeyTree();
  KeyTree(const KeyTree&) = delete;
  KeyTree& operator=(const KeyTree&) = delete;

  // The predefined keys HKEY_CURRENT_USER (0x80000001) to HKEY_DYN_DATA
  // (0x80000006), in that order. HKEY_CLASSES_ROOT is not a root of its own
  // but HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
  static constexpr HKEY kRoots[] = {HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE,
                                    HKEY_USERS,          HKEY_PERFORMANCE_DATA,
                                    HKEY_CURRENT_CONFIG, HKEY_DYN_DATA};
  // The key a predefined value stands for; for HKEY_CLASSES_ROOT the
  // HKEY_LOCAL_MACHINE\SOFTWARE\Classes key, created again if it was
  // deleted. nullptr for any other value.
  KeyNode* Root(HKEY root);
  // The same without creating anything: nullptr for HKEY_CLASSES_ROOT when
  // its key is missing.
  const KeyNode* Root(HKEY root) const;
  // "HKEY_CLASSES_ROOT" … "HKEY_DYN_DATA"; nullptr for any other value.
  static const char* RootName(HKEY root);

  // Throws everything away and starts again as a fresh installation. Keys
  // still held elsewhere read IsDeleted().
  void Clear();

  // Set by every change to a key or value since ClearChanged().
  bool Changed() const { return changed_; }
  void MarkChanged() { changed_ = true; }
  void ClearChanged() { changed_ = false; }

 private:
  void Populate();

  std::vector<std::shared_ptr<KeyNode>> roots_;
  bool changed_ = false;
};

}  // namespace corvane::platform::emulated
