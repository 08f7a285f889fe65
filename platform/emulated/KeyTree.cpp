// The emulated registry's key tree: name folding, the ordered indexes behind
// subkeys and values, and the fresh installation's keys.
#include "platform/emulated/KeyTree.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <utility>

namespace corvane::platform::emulated {

namespace detail {

// A treap with subtree sizes: lookup by key and by position, insertion and
// removal in O(log n) expected. Priorities come from a fixed-seed generator,
// so a tree's shape is reproducible from run to run.
template <class Key, class T>
class OrderedIndex {
 public:
  std::size_t Size() const { return SizeOf(root_.get()); }

  T* Find(const Key& key) const {
    Node* node = root_.get();
    while (node != nullptr) {
      if (key < node->key) {
        node = node->left.get();
      } else if (node->key < key) {
        node = node->right.get();
      } else {
        return &node->value;
      }
    }
    return nullptr;
  }

  T* At(std::size_t index) const {
    Node* node = root_.get();
    while (node != nullptr) {
      const std::size_t left = SizeOf(node->left.get());
      if (index < left) {
        node = node->left.get();
      } else if (index == left) {
        return &node->value;
      } else {
        index -= left + 1;
        node = node->right.get();
      }
    }
    return nullptr;
  }

  // The key must not be present yet.
  T& Insert(Key key, T value) {
    auto node = std::make_unique<Node>();
    node->key = std::move(key);
    node->value = std::move(value);
    node->priority = NextPriority();
    Node* raw = node.get();
    auto [less, greater] = Split(std::move(root_), raw->key);
    root_ = Merge(Merge(std::move(less), std::move(node)), std::move(greater));
    return raw->value;
  }

  // Moves the value out; false when the key is absent.
  bool Erase(const Key& key, T* removed = nullptr) {
    if (Find(key) == nullptr) return false;
    std::unique_ptr<Node>* link = &root_;
    while (*link != nullptr) {
      Node* node = link->get();
      if (key < node->key) {
        node->size--;
        link = &node->left;
      } else if (node->key < key) {
        node->size--;
        link = &node->right;
      } else {
        if (removed != nullptr) *removed = std::move(node->value);
        std::unique_ptr<Node> gone = std::move(*link);
        *link = Merge(std::move(gone->left), std::move(gone->right));
        return true;
      }
    }
    return false;
  }

  template <class F>
  void ForEach(F&& visit) const {
    // Iterative in-order walk: the depth is O(log n) expected, but a visit
    // must not depend on it.
    std::vector<Node*> stack;
    Node* node = root_.get();
    while (node != nullptr || !stack.empty()) {
      while (node != nullptr) {
        stack.push_back(node);
        node = node->left.get();
      }
      node = stack.back();
      stack.pop_back();
      visit(node->key, node->value);
      node = node->right.get();
    }
  }

  void Clear() { root_.reset(); }

 private:
  struct Node {
    Key key;
    T value;
    std::uint32_t priority = 0;
    std::size_t size = 1;
    std::unique_ptr<Node> left, right;
  };

  static std::size_t SizeOf(const Node* node) {
    return node == nullptr ? 0 : node->size;
  }
  static void Resize(Node* node) {
    node->size = 1 + SizeOf(node->left.get()) + SizeOf(node->right.get());
  }

  std::uint32_t NextPriority() {
    // xorshift32
    seed_ ^= seed_ << 13;
    seed_ ^= seed_ >> 17;
    seed_ ^= seed_ << 5;
    return seed_;
  }

  // Keys below `key` to the left, the rest to the right.
  static std::pair<std::unique_ptr<Node>, std::unique_ptr<Node>> Split(
      std::unique_ptr<Node> node, const Key& key) {
    if (node == nullptr) return {};
    if (node->key < key) {
      auto [less, greater] = Split(std::move(node->right), key);
      node->right = std::move(less);
      Resize(node.get());
      return {std::move(node), std::move(greater)};
    }
    auto [less, greater] = Split(std::move(node->left), key);
    node->left = std::move(greater);
    Resize(node.get());
    return {std::move(less), std::move(node)};
  }

  // Every key of `a` is below every key of `b`.
  static std::unique_ptr<Node> Merge(std::unique_ptr<Node> a,
                                     std::unique_ptr<Node> b) {
    if (a == nullptr) return b;
    if (b == nullptr) return a;
    if (a->priority > b->priority) {
      a->right = Merge(std::move(a->right), std::move(b));
      Resize(a.get());
      return a;
    }
    b->left = Merge(std::move(a), std::move(b->left));
    Resize(b.get());
    return b;
  }

  std::unique_ptr<Node> root_;
  std::uint32_t seed_ = 0x9E3779B9u;
};

}  // namespace detail

// How many names (or data blocks) of each length a key holds, so that the
// longest is known in O(log n) after any removal.
class KeyNode::LengthHistogram {
 public:
  void Add(std::size_t length) {
    auto it = Find(length);
    if (it != counts_.end() && it->first == length) {
      ++it->second;
    } else {
      counts_.insert(it, {length, 1});
    }
  }
  void Remove(std::size_t length) {
    auto it = Find(length);
    if (it != counts_.end() && it->first == length && --it->second == 0) {
      counts_.erase(it);
    }
  }
  std::size_t Max() const { return counts_.empty() ? 0 : counts_.back().first; }
  void Clear() { counts_.clear(); }

  // Each key has four of these and most keep them empty: they are made on
  // first use, and an absent one reads as empty.
  static LengthHistogram& Of(std::unique_ptr<LengthHistogram>& histogram) {
    if (histogram == nullptr) histogram = std::make_unique<LengthHistogram>();
    return *histogram;
  }
  static std::size_t MaxOf(const std::unique_ptr<LengthHistogram>& histogram) {
    return histogram == nullptr ? 0 : histogram->Max();
  }

 private:
  // (length, how many) in increasing length: a key's names and data come in
  // few distinct lengths, so a sorted vector beats a node per length.
  using Entry = std::pair<std::size_t, std::size_t>;
  std::vector<Entry>::iterator Find(std::size_t length) {
    return std::lower_bound(
        counts_.begin(), counts_.end(), length,
        [](const Entry& e, std::size_t n) { return e.first < n; });
  }
  std::vector<Entry> counts_;
};

char16_t FoldChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? c - 0x20 : c;
  if (c < 0x100) {
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;  // ÿ → Ÿ
    return c;                     // ß and µ have no single uppercase form
  }
  if (c < 0x180) {
    // Latin Extended-A pairs its letters, upper first; the runs where the
    // lowercase letter comes first start at 0x139 and 0x179. Dotless i, kra
    // and ŉ keep their own form, as in Windows' table.
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    const bool oddIsLower = (c < 0x138) || (c >= 0x14A && c < 0x178);
    if (oddIsLower) return (c & 1) ? c - 1 : c;
    if (c >= 0x139 && c <= 0x148) return (c & 1) ? c : c - 1;
    if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c : c - 1;
    return c;
  }
  if (c == 0x192) return 0x191;  // ƒ, which Windows-1252 carries
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 0x20;  // Greek
  if (c == 0x3C2) return 0x3A3;                                 // final ς
  if (c >= 0x3AC && c <= 0x3AF) {                               // tonos
    static constexpr char16_t kTonos[] = {0x386, 0x388, 0x389, 0x38A};
    return kTonos[c - 0x3AC];
  }
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0x460 && c <= 0x481) return (c & 1) ? c - 1 : c;
  if (c >= 0x48A && c <= 0x4BF) return (c & 1) ? c - 1 : c;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;  // fullwidth
  return c;
}

std::u16string FoldName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = FoldChar(c);
  return folded;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = FoldChar(a[i]), y = FoldChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {

std::uint64_t NowAsFileTime() {
  // FILETIME counts 100 ns ticks from 1601; the Unix epoch is 11644473600 s
  // later.
  using namespace std::chrono;
  const auto since1970 =
      duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
  return static_cast<std::uint64_t>(since1970.count() / 100) +
         11644473600ull * 10000000ull;
}

}  // namespace

KeyNode::KeyNode(KeyTree* tree, KeyNode* parent, std::u16string name,
                 bool isVolatile)
    : tree_(tree),
      parent_(parent),
      name_(std::move(name)),
      volatile_(isVolatile),
      lastWrite_(NowAsFileTime()),
      children_(
          std::make_unique<detail::OrderedIndex<std::u16string,
                                                std::shared_ptr<KeyNode>>>()),
      values_(
          std::make_unique<detail::OrderedIndex<std::uint64_t, KeyValue>>()),
      childNameLengths_(),
      childClassLengths_(),
      valueNameLengths_(),
      valueDataSizes_() {}

KeyNode::~KeyNode() {
  // Release a deep subtree without recursing once per level.
  std::vector<std::shared_ptr<KeyNode>> pending;
  auto drain = [&pending](KeyNode& node) {
    node.children_->ForEach(
        [&pending](const std::u16string&, std::shared_ptr<KeyNode>& child) {
          pending.push_back(std::move(child));
        });
    node.children_->Clear();
    node.childByName_.clear();
  };
  drain(*this);
  while (!pending.empty()) {
    std::shared_ptr<KeyNode> node = std::move(pending.back());
    pending.pop_back();
    if (node.use_count() == 1) drain(*node);
  }
}

void KeyNode::SetClassName(std::u16string className) {
  if (parent_ != nullptr) {
    LengthHistogram::Of(parent_->childClassLengths_).Remove(class_.size());
    LengthHistogram::Of(parent_->childClassLengths_).Add(className.size());
  }
  class_ = std::move(className);
  Touch();
}

void KeyNode::Touch() {
  lastWrite_ = NowAsFileTime();
  if (tree_ != nullptr) tree_->MarkChanged();
}

std::size_t KeyNode::ChildCount() const { return children_->Size(); }

KeyNode* KeyNode::ChildAt(std::size_t index) const {
  auto* child = children_->At(index);
  return child ? child->get() : nullptr;
}

KeyNode* KeyNode::FindChild(std::u16string_view name) const {
  const auto it = childByName_.find(FoldName(name));
  return it == childByName_.end() ? nullptr : it->second;
}

KeyNode* KeyNode::CreateChild(std::u16string_view name, bool isVolatile,
                              bool* created) {
  std::u16string folded = FoldName(name);
  const auto [it, isNew] = childByName_.emplace(folded, nullptr);
  if (!isNew) {
    if (created != nullptr) *created = false;
    return it->second;
  }
  auto child =
      std::make_shared<KeyNode>(tree_, this, std::u16string(name), isVolatile);
  KeyNode* raw = child.get();
  it->second = raw;
  children_->Insert(std::move(folded), std::move(child));
  LengthHistogram::Of(childNameLengths_).Add(name.size());
  LengthHistogram::Of(childClassLengths_).Add(0);
  Touch();
  if (created != nullptr) *created = true;
  return raw;
}

bool KeyNode::RemoveChild(std::u16string_view name) {
  const std::u16string folded = FoldName(name);
  if (childByName_.erase(folded) == 0) return false;
  std::shared_ptr<KeyNode> child;
  children_->Erase(folded, &child);
  LengthHistogram::Of(childNameLengths_).Remove(child->name_.size());
  LengthHistogram::Of(childClassLengths_).Remove(child->class_.size());
  child->MarkDeletedSubtree();
  Touch();
  return true;
}

void KeyNode::MarkDeletedSubtree() {
  std::vector<KeyNode*> pending{this};
  while (!pending.empty()) {
    KeyNode* node = pending.back();
    pending.pop_back();
    node->deleted_ = true;
    node->parent_ = nullptr;
    node->tree_ = nullptr;
    node->children_->ForEach(
        [&pending](const std::u16string&, std::shared_ptr<KeyNode>& child) {
          pending.push_back(child.get());
        });
  }
}

std::vector<KeyNode*> KeyNode::Children() const {
  std::vector<KeyNode*> result;
  result.reserve(children_->Size());
  children_->ForEach(
      [&result](const std::u16string&, const std::shared_ptr<KeyNode>& child) {
        result.push_back(child.get());
      });
  return result;
}

std::size_t KeyNode::ValueCount() const { return values_->Size(); }

const KeyValue* KeyNode::ValueAt(std::size_t index) const {
  return values_->At(index);
}

const KeyValue* KeyNode::FindValue(std::u16string_view name) const {
  auto it = valueSerials_.find(FoldName(name));
  return it == valueSerials_.end() ? nullptr : values_->Find(it->second);
}

void KeyNode::SetValue(std::u16string_view name, DWORD type,
                       std::vector<BYTE> data) {
  std::u16string folded = FoldName(name);
  auto it = valueSerials_.find(folded);
  if (it != valueSerials_.end()) {
    KeyValue* value = values_->Find(it->second);
    LengthHistogram::Of(valueDataSizes_).Remove(value->data.size());
    LengthHistogram::Of(valueDataSizes_).Add(data.size());
    value->type = type;
    value->data = std::move(data);
  } else {
    const std::uint64_t serial = nextValueSerial_++;
    LengthHistogram::Of(valueNameLengths_).Add(name.size());
    LengthHistogram::Of(valueDataSizes_).Add(data.size());
    values_->Insert(serial,
                    KeyValue{std::u16string(name), type, std::move(data)});
    valueSerials_.emplace(std::move(folded), serial);
  }
  Touch();
}

bool KeyNode::DeleteValue(std::u16string_view name) {
  auto it = valueSerials_.find(FoldName(name));
  if (it == valueSerials_.end()) return false;
  KeyValue removed;
  values_->Erase(it->second, &removed);
  valueSerials_.erase(it);
  LengthHistogram::Of(valueNameLengths_).Remove(removed.name.size());
  LengthHistogram::Of(valueDataSizes_).Remove(removed.data.size());
  Touch();
  return true;
}

std::vector<const KeyValue*> KeyNode::Values() const {
  std::vector<const KeyValue*> result;
  result.reserve(values_->Size());
  values_->ForEach([&result](std::uint64_t, const KeyValue& value) {
    result.push_back(&value);
  });
  return result;
}

std::size_t KeyNode::MaxChildNameLength() const {
  return LengthHistogram::MaxOf(childNameLengths_);
}
std::size_t KeyNode::MaxChildClassLength() const {
  return LengthHistogram::MaxOf(childClassLengths_);
}
std::size_t KeyNode::MaxValueNameLength() const {
  return LengthHistogram::MaxOf(valueNameLengths_);
}
std::size_t KeyNode::MaxValueDataSize() const {
  return LengthHistogram::MaxOf(valueDataSizes_);
}

KeyTree::KeyTree() {
  Populate();
  changed_ = false;
}

KeyTree::~KeyTree() {
  for (auto& root : roots_) root->MarkDeletedSubtree();
}

void KeyTree::Populate() {
  for (HKEY root : kRoots) {
    const char* name = RootName(root);
    roots_.push_back(std::make_shared<KeyNode>(
        this, nullptr,
        std::u16string(name, name + std::char_traits<char>::length(name)),
        false));
  }
  Root(HKEY_LOCAL_MACHINE)
      ->CreateChild(u"SOFTWARE")
      ->CreateChild(u"Classes")
      ->CreateChild(u"AppID");
}

KeyNode* KeyTree::Root(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) {
    return Root(HKEY_LOCAL_MACHINE)
        ->CreateChild(u"SOFTWARE")
        ->CreateChild(u"Classes");
  }
  if (root < HKEY_CURRENT_USER || root > HKEY_DYN_DATA) return nullptr;
  return roots_[root - HKEY_CURRENT_USER].get();
}

const KeyNode* KeyTree::Root(HKEY root) const {
  if (root == HKEY_CLASSES_ROOT) {
    const KeyNode* software = Root(HKEY_LOCAL_MACHINE)->FindChild(u"SOFTWARE");
    return software != nullptr ? software->FindChild(u"Classes") : nullptr;
  }
  if (root < HKEY_CURRENT_USER || root > HKEY_DYN_DATA) return nullptr;
  return roots_[root - HKEY_CURRENT_USER].get();
}

const char* KeyTree::RootName(HKEY root) {
  static constexpr const char* kNames[] = {
      "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",     "HKEY_LOCAL_MACHINE",
      "HKEY_USERS",        "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG",
      "HKEY_DYN_DATA"};
  if (root < HKEY_CLASSES_ROOT || root > HKEY_DYN_DATA) return nullptr;
  return kNames[root - HKEY_CLASSES_ROOT];
}

void KeyTree::Clear() {
  for (auto& root : roots_) root->MarkDeletedSubtree();
  roots_.clear();
  Populate();
  changed_ = true;
}

}  // namespace corvane::platform::emulated
