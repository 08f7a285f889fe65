// regfiletool's key tree, and its joins to the .reg reader and writer.
#include "tools/RegTree.h"

#include <algorithm>
#include <iterator>

#include "base/RegistryNames.h"
#include "base/RootKeys.h"
#include "base/Unicode.h"
#include "regfile/KeyPathChain.h"
#include "regfile/RegFile.h"

namespace corvane::tools {
namespace {

using base::FoldName;

constexpr std::uint32_t kFirstRoot = 0x80000000u;  // HKEY_CLASSES_ROOT
constexpr std::uint32_t kLocalMachine = 0x80000002u;

// Roots in the order they are written: HKEY_LOCAL_MACHINE, then
// HKEY_CURRENT_USER, HKEY_USERS, HKEY_CURRENT_CONFIG, HKEY_PERFORMANCE_DATA
// and HKEY_DYN_DATA.
constexpr std::uint32_t kSaveOrder[] = {0x80000002u, 0x80000001u, 0x80000003u,
                                        0x80000005u, 0x80000004u, 0x80000006u};

// Replays a file into the tree. Consecutive keys of a .reg file mostly share
// a prefix (a key, then its children), so the keys of the last path are kept
// and only the differing tail is looked up.
class TreeSink : public regfile::RegSink {
 public:
  explicit TreeSink(RegTree& tree) : tree_(tree) {}

  std::string OnKey(std::u16string_view path) override {
    std::string err = Walk(path, true);
    current_ = err.empty() ? chain_.back().key : nullptr;
    return err;
  }

  std::string OnDeleteKey(std::u16string_view path) override {
    current_ = nullptr;
    std::string err = Walk(path, false);
    if (!err.empty() || chain_.back().key == nullptr) return err;
    if (chain_.size() == 1) return "a root key can't be deleted";
    RegTreeKey* parent = chain_[chain_.size() - 2].key;
    parent->RemoveChild(chain_.back().key->Name());
    chain_.clear();
    last_.clear();
    return {};
  }

  std::string OnValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    if (current_ == nullptr) return "value outside a key";
    current_->SetValue(name, type, {data.begin(), data.end()});
    return {};
  }

  std::string OnDeleteValue(std::u16string_view name) override {
    if (current_ == nullptr) return "value outside a key";
    current_->DeleteValue(name);
    return {};
  }

 private:
  struct Step {
    std::size_t end;  // where this component ends in last_
    RegTreeKey* key;  // nullptr past a missing key when not creating
  };

  // Resolves `path` into chain_, making missing keys when `create`.
  std::string Walk(std::u16string_view path, bool create) {
    const std::size_t keep = regfile::SharedSteps(
        last_, path, chain_,
        [](const Step& step) { return step.key != nullptr; });
    chain_.resize(keep);
    std::size_t pos = keep ? chain_.back().end : 0;
    last_.assign(path);

    for (std::size_t end = 0; regfile::NextName(path, pos, end); pos = end) {
      const std::u16string_view name = path.substr(pos, end - pos);
      RegTreeKey* key = nullptr;
      if (chain_.empty()) {
        key = tree_.Find(name);
        if (key == nullptr) {
          last_.clear();
          return "unknown root key '" + base::Utf16ToUtf8(name) + "'";
        }
      } else if (RegTreeKey* parent = chain_.back().key; parent != nullptr) {
        key = create ? &parent->CreateChild(name) : parent->FindChild(name);
      }
      chain_.push_back({end, key});
    }
    if (chain_.empty()) return "empty key name";
    return {};
  }

  RegTree& tree_;
  RegTreeKey* current_ = nullptr;
  std::u16string last_;
  std::vector<Step> chain_;
};

}  // namespace

RegTreeKey::~RegTreeKey() {
  // A deep tree is taken apart level by level rather than by recursion.
  std::vector<std::unique_ptr<RegTreeKey>> pending;
  auto release = [&pending](RegTreeKey& key) {
    for (auto& entry : key.children_)
      pending.push_back(std::move(entry.second));
    key.children_.clear();
  };
  release(*this);
  while (!pending.empty()) {
    std::unique_ptr<RegTreeKey> key = std::move(pending.back());
    pending.pop_back();
    release(*key);
  }
}

RegTreeKey* RegTreeKey::FindChild(std::u16string_view name) const {
  const auto it = children_.find(FoldName(name));
  return it != children_.end() ? it->second.get() : nullptr;
}

RegTreeKey& RegTreeKey::CreateChild(std::u16string_view name) {
  std::unique_ptr<RegTreeKey>& child = children_[FoldName(name)];
  if (child == nullptr)
    child = std::make_unique<RegTreeKey>(std::u16string(name));
  return *child;
}

bool RegTreeKey::RemoveChild(std::u16string_view name) {
  return children_.erase(FoldName(name)) == 1;
}

std::vector<RegTreeKey*> RegTreeKey::Children() const {
  std::vector<RegTreeKey*> children;
  children.reserve(children_.size());
  for (const auto& entry : children_) children.push_back(entry.second.get());
  return children;
}

void RegTreeKey::SetValue(std::u16string_view name, std::uint32_t type,
                          std::vector<std::uint8_t> data) {
  const auto [it, added] =
      valuePositions_.try_emplace(FoldName(name), values_.size());
  if (added) {
    values_.push_back({std::u16string(name), type, std::move(data)});
  } else {
    values_[it->second].type = type;
    values_[it->second].data = std::move(data);
  }
}

void RegTreeKey::DeleteValue(std::u16string_view name) {
  const auto it = valuePositions_.find(FoldName(name));
  if (it == valuePositions_.end()) return;
  const std::size_t position = it->second;
  valuePositions_.erase(it);
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position));
  for (auto& entry : valuePositions_) {
    if (entry.second > position) --entry.second;
  }
}

RegTree::RegTree() {
  for (const base::RootKey& root : base::kRootKeys) {
    roots_.push_back(root.value == kFirstRoot
                         ? nullptr
                         : std::make_unique<RegTreeKey>(std::u16string(
                               root.name.begin(), root.name.end())));
  }
  Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\AppID");
}

RegTreeKey* RegTree::Root(std::u16string_view name) {
  const base::RootKey* root = base::FindRootKey(name);
  if (root == nullptr) return nullptr;
  if (root->value == kFirstRoot) {
    return &roots_[kLocalMachine - kFirstRoot]
                ->CreateChild(u"SOFTWARE")
                .CreateChild(u"Classes");
  }
  return roots_[root->value - kFirstRoot].get();
}

template <class TakeStep>
RegTreeKey* RegTree::Follow(std::u16string_view path, TakeStep takeStep) {
  const std::size_t cut = std::min(path.find(u'\\'), path.size());
  RegTreeKey* key = Root(path.substr(0, cut));
  for (std::size_t pos = cut; key != nullptr && pos < path.size();) {
    const std::size_t start = pos + 1;
    pos = std::min(path.find(u'\\', start), path.size());
    if (pos > start) key = takeStep(*key, path.substr(start, pos - start));
  }
  return key;
}

RegTreeKey* RegTree::Find(std::u16string_view path) {
  return Follow(path, [](RegTreeKey& key, std::u16string_view name) {
    return key.FindChild(name);
  });
}

RegTreeKey* RegTree::Create(std::u16string_view path) {
  return Follow(path, [](RegTreeKey& key, std::u16string_view name) {
    return &key.CreateChild(name);
  });
}

std::string RegTree::Read(std::span<const std::uint8_t> bytes,
                          std::string_view fileName) {
  TreeSink sink(*this);
  return regfile::ReadRegFile(bytes, fileName, sink);
}

std::string RegTree::Write(std::string& bytes) const {
  regfile::RegWriter writer;
  std::u16string path;
  struct Pending {
    const RegTreeKey* key;
    std::size_t pathLength;  // of the parent's path
  };
  std::vector<Pending> stack;
  for (const std::uint32_t root : kSaveOrder) {
    const RegTreeKey* top = roots_[root - kFirstRoot].get();
    stack.push_back({top, 0});
    while (!stack.empty()) {
      const Pending next = stack.back();
      stack.pop_back();
      path.resize(next.pathLength);
      if (next.pathLength) path += u'\\';
      path += next.key->Name();
      // A root line is needed only for the root's own values: every other
      // line names its root anyway, and `reg import` refuses the roots it
      // can't open, such as HKEY_PERFORMANCE_DATA.
      if (next.key != top || !next.key->Values().empty()) {
        if (!writer.Key(path)) {
          return "a key name holds a line break, which a .reg file can't "
                 "carry: " +
                 base::Utf16ToUtf8(path);
        }
        for (const RegTreeValue& value : next.key->Values()) {
          writer.Value(value.name, value.type, value.data);
        }
      }
      const std::vector<RegTreeKey*> children = next.key->Children();
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        stack.push_back({*it, path.size()});
      }
    }
  }
  bytes = writer.Finish();
  return {};
}

}  // namespace corvane::tools
