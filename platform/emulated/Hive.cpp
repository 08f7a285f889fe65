// The hive file joined to the key tree: LoadHive replays a .reg file into the
// tree, SaveHive writes every non-volatile key (empty ones too) and every
// value, subkeys in sorted order and values in creation order.
#include "platform/emulated/Hive.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "base/RootKeys.h"
#include "base/Unicode.h"
#include "platform/emulated/KeyTree.h"
#include "regfile/KeyPathChain.h"
#include "regfile/RegFile.h"

namespace corvane::platform::emulated {
namespace {

// Roots in the order they are written. HKEY_CLASSES_ROOT is part of
// HKEY_LOCAL_MACHINE and is written there.
constexpr HKEY kSaveOrder[] = {
    HKEY_LOCAL_MACHINE,  HKEY_CURRENT_USER,     HKEY_USERS,
    HKEY_CURRENT_CONFIG, HKEY_PERFORMANCE_DATA, HKEY_DYN_DATA};

// Replays the file into the tree. Consecutive keys of a .reg file mostly
// share a prefix (a key, then its children), so the nodes of the last path
// are kept and only the differing tail is looked up.
class TreeSink : public regfile::RegSink {
 public:
  explicit TreeSink(KeyTree& tree) : tree_(tree) {}

  std::string OnKey(std::u16string_view path) override {
    std::string err = Walk(path, true);
    current_ = err.empty() ? chain_.back().node : nullptr;
    return err;
  }

  std::string OnDeleteKey(std::u16string_view path) override {
    current_ = nullptr;
    std::string err = Walk(path, false);
    if (!err.empty() || chain_.back().node == nullptr) return err;
    if (chain_.size() == 1) return "a root key can't be deleted";
    KeyNode* parent = chain_[chain_.size() - 2].node;
    parent->RemoveChild(chain_.back().node->Name());
    chain_.clear();
    last_.clear();
    return {};
  }

  std::string OnValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    if (current_ == nullptr) return "value outside a key";
    current_->SetValue(name, type, std::vector<BYTE>(data.begin(), data.end()));
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
    KeyNode* node;    // nullptr past a missing key when not creating
  };

  // Resolves `path` into chain_, creating missing keys when `create`.
  std::string Walk(std::u16string_view path, bool create) {
    const std::size_t keep = regfile::SharedSteps(
        last_, path, chain_,
        [](const Step& step) { return step.node != nullptr; });
    chain_.resize(keep);
    std::size_t pos = keep ? chain_.back().end : 0;
    last_.assign(path);

    while (pos < path.size()) {
      while (pos < path.size() && path[pos] == u'\\') ++pos;
      if (pos == path.size()) break;
      std::size_t end = path.find(u'\\', pos);
      if (end == std::u16string_view::npos) end = path.size();
      const std::u16string_view name = path.substr(pos, end - pos);
      KeyNode* node;
      if (chain_.empty()) {
        node = RootNode(name);
        if (node == nullptr) {
          chain_.clear();
          last_.clear();
          return "unknown root key '" + base::Utf16ToUtf8(name) + "'";
        }
      } else if (KeyNode* parent = chain_.back().node; parent == nullptr) {
        node = nullptr;
      } else {
        node = create ? parent->CreateChild(name) : parent->FindChild(name);
      }
      chain_.push_back({end, node});
      pos = end;
    }
    if (chain_.empty()) return "empty key name";
    return {};
  }

  KeyNode* RootNode(std::u16string_view name) {
    const base::RootKey* root = base::FindRootKey(name);
    return root != nullptr ? tree_.Root(root->value) : nullptr;
  }

  KeyTree& tree_;
  KeyNode* current_ = nullptr;
  std::u16string last_;
  std::vector<Step> chain_;
};

}  // namespace

std::string ReadHive(std::span<const std::uint8_t> bytes,
                     std::string_view fileName, KeyTree& tree) {
  TreeSink sink(tree);
  std::string err = regfile::ReadRegFile(bytes, fileName, sink);
  if (!err.empty()) tree.Clear();
  return err;
}

std::string WriteHive(const KeyTree& tree, std::string& bytes) {
  regfile::RegWriter writer;
  std::u16string path;
  struct Frame {
    const KeyNode* node;
    std::size_t pathLength;
  };
  std::vector<Frame> stack;
  for (HKEY root : kSaveOrder) {
    const KeyNode* top = tree.Root(root);
    if (top == nullptr) continue;
    stack.push_back({top, 0});
    while (!stack.empty()) {
      const Frame f = stack.back();
      stack.pop_back();
      path.resize(f.pathLength);
      if (f.pathLength) path += u'\\';
      path += f.node->Name();
      // A root line is needed only for the root's own values: every other
      // line names its root anyway, and `reg import` refuses the roots it
      // can't open, such as HKEY_PERFORMANCE_DATA.
      const bool isRoot = f.node->Parent() == nullptr;
      if (!isRoot || f.node->ValueCount() > 0) {
        if (!writer.Key(path)) {
          return "a key name holds a line break, which a .reg file can't "
                 "carry: " +
                 base::Utf16ToUtf8(path);
        }
        for (const KeyValue* v : f.node->Values()) {
          writer.Value(v->name, v->type, v->data);
        }
      }
      const std::vector<KeyNode*> children = f.node->Children();
      const std::size_t len = path.size();
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (!(*it)->IsVolatile()) stack.push_back({*it, len});
      }
    }
  }
  bytes = writer.Finish();
  return {};
}

}  // namespace corvane::platform::emulated
