// A tree of keys and values in memory, as a .reg file describes one: what
// the hive tools and the .reg format's tests read files into and write them
// from.
//
// Names are case-preserving and compared case-insensitively, as Windows
// compares registry names (base/RegistryNames.h). Subkeys are kept in
// case-insensitive sorted order, values in the order they were first created.
// Finding a child or value by name and reaching one by position both cost O(log
// n), so a walk over n keys by position costs O(n log n), never O(n^2).
//
// Not thread-safe.
//
// Ownership: a KeyTree owns its roots, a node owns its children. Nodes are
// held by std::shared_ptr so that an open registry handle keeps a deleted key
// alive (and answers ERROR_KEY_DELETED through it); raw KeyNode pointers
// handed out here stay valid until that key is removed or the tree cleared.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/ChunkedVector.h"

namespace corvane::platform::emulated {

struct KeyValue {
  std::u16string name;  // as first created; "" is the key's default value
  // The raw bytes, as the wide registry functions see them: REG_SZ,
  // REG_EXPAND_SZ and REG_MULTI_SZ are UTF-16LE with whatever terminators
  // the writer gave them.
  std::vector<BYTE> data;
  // Last, so that what a key stores beside each value fits in the padding.
  DWORD type = REG_NONE;
};

class KeyTree;

namespace detail {

// A value as a key stores it; `serial` is what the name index of a key with
// many values refers to, as positions move when values are deleted.
struct StoredValue : KeyValue {
  std::uint32_t serial = 0;
};

}  // namespace detail

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
  const std::u16string& ClassName() const;
  void SetClassName(std::u16string className);
  // FILETIME ticks (100 ns since 1601) of the last change to the key, its
  // values or its list of subkeys.
  std::uint64_t LastWriteTime() const { return lastWrite_; }

  // Subkeys, in case-insensitive sorted order.
  std::size_t ChildCount() const { return children_.Size(); }
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
  std::size_t ValueCount() const { return values_.Size(); }
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

  std::shared_ptr<KeyNode> Shared() { return shared_from_this(); }

 private:
  friend class KeyTree;
  class LengthHistogram;
  struct ClassAndIndexes;

  // Up to this many children or values a key keeps no index beside them:
  // a scan of so few is as quick as any lookup and costs no memory.
  static constexpr std::size_t kSmall = 16;

  void Touch();
  void MarkDeletedSubtree();
  ClassAndIndexes& MakeClassAndIndexes();
  // Where a child of that name is or would go, and whether it is there.
  std::size_t ChildPosition(std::u16string_view name, bool& found) const;
  detail::StoredValue* FindStored(std::u16string_view name,
                                  std::size_t* position = nullptr);
  void IndexChildren();
  void IndexValues();

  KeyTree* tree_;
  KeyNode* parent_;
  std::u16string name_;
  // Children in case-insensitive order of their names; values in creation
  // order.
  ChunkedVector<std::shared_ptr<KeyNode>> children_;
  ChunkedVector<detail::StoredValue> values_;
  std::uint64_t lastWrite_ = 0;
  // What few keys need: a class, and the indexes of a key with
  // more than kSmall children or values. Made on first use.
  std::unique_ptr<ClassAndIndexes> classAndIndexes_;
  bool volatile_;
  bool deleted_ = false;
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

 private:
  void Populate();

  std::vector<std::shared_ptr<KeyNode>> roots_;
};

}  // namespace corvane::platform::emulated
