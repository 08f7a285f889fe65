// regfiletool's key tree: a .reg file's keys and values in memory, with just
// what loading a file, finding keys in it and saving it again need. Names
// compare case-insensitively, as the registry compares them
// (base/RegistryNames.h); subkeys are kept in that order, values in the
// order they were first set.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane::tools {

struct RegTreeValue {
  std::u16string name;  // as first set; "" is the key's default value
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;  // raw: REG_SZ is UTF-16LE
};

class RegTreeKey {
 public:
  explicit RegTreeKey(std::u16string name) : name_(std::move(name)) {}
  ~RegTreeKey();
  RegTreeKey(const RegTreeKey&) = delete;
  RegTreeKey& operator=(const RegTreeKey&) = delete;

  // As first created ("HKEY_LOCAL_MACHINE" and so on for a root).
  const std::u16string& Name() const { return name_; }

  // nullptr when there is no child of that name.
  RegTreeKey* FindChild(std::u16string_view name) const;
  // The child of that name: the existing one, spelled as it was, or a new one.
  RegTreeKey& CreateChild(std::u16string_view name);
  // Takes the child out with its subtree; false when there is none.
  bool RemoveChild(std::u16string_view name);
  // In case-insensitive order of their names.
  std::vector<RegTreeKey*> Children() const;

  // A value set again keeps its place and its first spelling.
  void SetValue(std::u16string_view name, std::uint32_t type,
                std::vector<std::uint8_t> data);
  void DeleteValue(std::u16string_view name);
  // In the order they were first set.
  const std::vector<RegTreeValue>& Values() const { return values_; }

 private:
  std::u16string name_;
  // Keyed by folded name, which orders them as the registry does.
  std::map<std::u16string, std::unique_ptr<RegTreeKey>> children_;
  std::vector<RegTreeValue> values_;
  // Folded value name -> its position in values_.
  std::unordered_map<std::u16string, std::size_t> valuePositions_;
};

class RegTree {
 public:
  // What a fresh emulated registry holds: the roots HKEY_CURRENT_USER to
  // HKEY_DYN_DATA and HKEY_LOCAL_MACHINE\SOFTWARE\Classes\AppID.
  RegTree();

  // The key at "ROOT\a\b", the root by its long name or its abbreviation,
  // empty steps passed over; nullptr when a step is missing.
  // HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\SOFTWARE\Classes, made again
  // when it was deleted.
  RegTreeKey* Find(std::u16string_view path);
  // The same, making missing keys; nullptr only for an unknown root.
  RegTreeKey* Create(std::u16string_view path);

  // Replays a .reg file into the tree: "" or "<file>:<line>: <what is
  // wrong>", the lines before the failing one applied.
  std::string Read(std::span<const std::uint8_t> bytes,
                   std::string_view fileName);
  // The tree as a .reg file: every key, subkeys in order, a root only when
  // it has values of its own. "" or why the tree can't be written.
  std::string Write(std::string& bytes) const;

 private:
  // The key of the root named `name`; nullptr for an unknown name.
  RegTreeKey* Root(std::u16string_view name);
  // The key at `path`, each step below the root taken by
  // `takeStep(key, name)`.
  template <class TakeStep>
  RegTreeKey* Follow(std::u16string_view path, TakeStep takeStep);

  // By root value from HKEY_CLASSES_ROOT (0x80000000) up; that one is empty,
  // as it is a key under HKEY_LOCAL_MACHINE.
  std::vector<std::unique_ptr<RegTreeKey>> roots_;
};

}  // namespace corvane::tools
