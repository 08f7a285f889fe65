// Key trees in memory, read from the registry or from a .reg file, and the
// folded identity of a key path.
#include "cli/KeySnapshot.h"

#include <map>
#include <memory>

#include "base/RegistryNames.h"
#include "base/RootKeys.h"
#include "base/Unicode.h"
#include "cli/RegCommon.h"
#include "regfile/RegFile.h"

namespace corvane::cli {

using namespace platform;

namespace {

std::vector<std::wstring> SplitPath(std::wstring_view path) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find(L'\\', start), path.size());
    // Doubled and trailing backslashes name no key, as the registry takes
    // them.
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The root's long name and the rest, with the merged classes root spelt as
// `classesOwner`'s classes.
std::vector<std::wstring> Canonical(const std::wstring& rootName,
                                    std::wstring_view rest,
                                    const wchar_t* classesOwner) {
  std::vector<std::wstring> parts{rootName};
  if (rootName == L"HKEY_CLASSES_ROOT") {
    parts = {classesOwner, L"SOFTWARE", L"Classes"};
  }
  for (std::wstring& part : SplitPath(rest)) parts.push_back(std::move(part));
  return parts;
}

std::vector<std::u16string> Folded(const std::vector<std::wstring>& parts) {
  std::vector<std::u16string> folded;
  for (const std::wstring& part : parts) folded.push_back(FoldedName(part));
  return folded;
}

// A key of a .reg file while the file is read. Subkeys are kept by folded
// name, which is also the registry's order.
struct FileKey {
  std::wstring name;
  std::vector<NamedValue> values;
  std::map<std::u16string, std::size_t> valueIndex;
  std::map<std::u16string, std::unique_ptr<FileKey>> subkeys;

  FileKey& Child(const std::wstring& childName) {
    auto& slot = subkeys[FoldedName(childName)];
    if (!slot) {
      slot = std::make_unique<FileKey>();
      slot->name = childName;
    }
    return *slot;
  }
};

// Builds the file's tree under one node per root; refuses what a snapshot
// can't hold.
class SnapshotSink : public regfile::RegSink {
 public:
  std::string OnKey(std::u16string_view path) override {
    const std::wstring wide = base::Utf16ToWide(path);
    const std::vector<std::wstring> parts = SplitPath(wide);
    const base::RootKey* root =
        parts.empty() ? nullptr : base::FindRootKey(parts[0]);
    if (root == nullptr) return "the key has no known root";
    const std::wstring rest =
        wide.substr(std::min(wide.find(L'\\'), wide.size()));
    current_ = &top_;
    for (const std::wstring& part :
         Canonical(base::Utf8ToWide(std::string(root->name)), rest,
                   L"HKEY_LOCAL_MACHINE")) {
      current_ = &current_->Child(part);
    }
    return "";
  }
  std::string OnDeleteKey(std::u16string_view) override {
    return "a file that deletes keys can't be compared";
  }
  std::string OnValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    if (current_ == nullptr) return "a value before any key";
    NamedValue value{base::Utf16ToWide(name),
                     RawValue{type, Bytes(data.begin(), data.end())}};
    const auto [at, added] = current_->valueIndex.emplace(
        base::FoldName(name), current_->values.size());
    if (added) {
      current_->values.push_back(std::move(value));
    } else {
      current_->values[at->second].value = std::move(value.value);
    }
    return "";
  }
  std::string OnDeleteValue(std::u16string_view) override {
    return "a file that deletes values can't be compared";
  }

  const FileKey* Find(const std::vector<std::u16string>& path) const {
    const FileKey* key = &top_;
    for (const std::u16string& part : path) {
      const auto child = key->subkeys.find(part);
      if (child == key->subkeys.end()) return nullptr;
      key = child->second.get();
    }
    return key;
  }

 private:
  FileKey top_;
  FileKey* current_ = nullptr;
};

KeySnapshot FromFileKey(const FileKey& key, SnapshotDepth depth) {
  KeySnapshot snapshot;
  snapshot.name = key.name;
  snapshot.values = key.values;
  if (depth == SnapshotDepth::kValues) return snapshot;
  for (const auto& [folded, child] : key.subkeys) {
    if (depth == SnapshotDepth::kTree) {
      snapshot.subkeys.push_back(FromFileKey(*child, depth));
    } else {
      snapshot.subkeys.push_back(KeySnapshot{child->name, {}, {}});
    }
  }
  return snapshot;
}

}  // namespace

std::u16string FoldedName(const std::wstring& name) {
  return base::FoldName(base::WideToUtf16(name));
}

std::vector<std::u16string> FoldedPath(const KeyPath& path) {
  return Folded(Canonical(path.rootName, path.subKey, L"HKEY_LOCAL_MACHINE"));
}

std::vector<std::vector<std::u16string>> FoldedPlaces(const KeyPath& path) {
  std::vector<std::vector<std::u16string>> places{FoldedPath(path)};
  if (path.root == HKEY_CLASSES_ROOT) {
    places.push_back(
        Folded(Canonical(path.rootName, path.subKey, L"HKEY_CURRENT_USER")));
  }
  return places;
}

KeySnapshot ReadKeySnapshot(const WideKey& key, const std::wstring& path,
                            SnapshotDepth depth) {
  KeySnapshot snapshot;
  snapshot.values = ReadValues(key, path);
  if (depth == SnapshotDepth::kValues) return snapshot;
  std::vector<std::wstring> names;
  Check(key.SubKeyNames(names), path);
  for (std::wstring& name : names) {
    KeySnapshot child;
    if (depth == SnapshotDepth::kTree) {
      const std::wstring childPath = path + L"\\" + name;
      WideKey opened;
      Check(WideKey::Open(key.Handle(), name, KEY_READ, opened), childPath);
      child = ReadKeySnapshot(opened, childPath, depth);
    }
    child.name = std::move(name);
    snapshot.subkeys.push_back(std::move(child));
  }
  return snapshot;
}

KeySnapshot ReadRegFileSnapshot(const std::wstring& fileName,
                                const KeyPath& path, SnapshotDepth depth) {
  const std::vector<std::uint8_t> bytes = ReadFileBytes(fileName);
  SnapshotSink sink;
  const std::string problem =
      regfile::ReadRegFile(bytes, base::WideToUtf8(fileName), sink);
  if (!problem.empty()) Fail(base::Utf8ToWide(problem));
  const FileKey* key = sink.Find(FoldedPath(path));
  if (key == nullptr) {
    Fail(L"The file " + fileName + L" doesn't hold the key " + path.Display() +
         L".");
  }
  KeySnapshot snapshot = FromFileKey(*key, depth);
  snapshot.name.clear();
  return snapshot;
}

}  // namespace corvane::cli
