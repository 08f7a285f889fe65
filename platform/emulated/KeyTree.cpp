// The emulated registry's key tree: name folding, subkeys and values with
// the indexes of the keys that hold many, and the fresh installation's keys.
#include "platform/emulated/KeyTree.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <unordered_map>
#include <utility>

#include "base/RegistryNames.h"
#include "base/RootKeys.h"

namespace corvane::platform::emulated {

// How many names (or data blocks) of each length a key with many children or
// values holds, so that the longest is known in O(log n) after any removal.
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
  void Clear() { std::vector<Entry>().swap(counts_); }

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

using base::CompareNames;
using base::FoldName;

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

// What few keys need: a class and indexes. The indexes are kept
// only while the key holds more than kSmall children (childNames, childClasses)
// or values (the rest), and are empty otherwise.
struct KeyNode::ClassAndIndexes {
  std::u16string className;
  LengthHistogram childNames, childClasses;
  LengthHistogram valueNames, valueSizes;
  // Folded value name → serial of the value; serials grow in creation order,
  // so the values are sorted by them.
  std::unordered_map<std::u16string, std::uint32_t> valueSerials;
  std::uint32_t nextSerial = 0;
};

KeyNode::KeyNode(KeyTree* tree, KeyNode* parent, std::u16string name,
                 bool isVolatile)
    : tree_(tree),
      parent_(parent),
      name_(std::move(name)),
      lastWrite_(NowAsFileTime()),
      volatile_(isVolatile) {}

KeyNode::~KeyNode() {
  // Release a deep subtree without recursing once per level.
  std::vector<std::shared_ptr<KeyNode>> pending;
  auto drain = [&pending](KeyNode& node) {
    node.children_.ForEach([&pending](std::shared_ptr<KeyNode>& child) {
      pending.push_back(std::move(child));
    });
    node.children_.Clear();
  };
  drain(*this);
  while (!pending.empty()) {
    std::shared_ptr<KeyNode> node = std::move(pending.back());
    pending.pop_back();
    if (node.use_count() == 1) drain(*node);
  }
}

KeyNode::ClassAndIndexes& KeyNode::MakeClassAndIndexes() {
  if (classAndIndexes_ == nullptr) {
    classAndIndexes_ = std::make_unique<ClassAndIndexes>();
  }
  return *classAndIndexes_;
}

const std::u16string& KeyNode::ClassName() const {
  static const std::u16string kNone;
  return classAndIndexes_ == nullptr ? kNone : classAndIndexes_->className;
}

void KeyNode::SetClassName(std::u16string className) {
  if (parent_ != nullptr && parent_->ChildCount() > kSmall) {
    LengthHistogram& classes = parent_->classAndIndexes_->childClasses;
    classes.Remove(ClassName().size());
    classes.Add(className.size());
  }
  if (!className.empty() || classAndIndexes_ != nullptr) {
    MakeClassAndIndexes().className = std::move(className);
  }
  Touch();
}

void KeyNode::Touch() { lastWrite_ = NowAsFileTime(); }

KeyNode* KeyNode::ChildAt(std::size_t index) const {
  return index < children_.Size() ? children_.At(index).get() : nullptr;
}

std::size_t KeyNode::ChildPosition(std::u16string_view name,
                                   bool& found) const {
  const std::size_t count = children_.Size();
  found = false;
  if (count == 0) return 0;
  // A .reg file lists keys in sorted order, so a new child most often
  // belongs after the last one.
  const int last = CompareNames(children_.Back()->name_, name);
  if (last <= 0) {
    found = last == 0;
    return found ? count - 1 : count;
  }
  const std::size_t position =
      children_.LowerBound([name](const std::shared_ptr<KeyNode>& child) {
        return CompareNames(child->name_, name) < 0;
      });
  found = CompareNames(children_.At(position)->name_, name) == 0;
  return position;
}

KeyNode* KeyNode::FindChild(std::u16string_view name) const {
  bool found = false;
  const std::size_t position = ChildPosition(name, found);
  return found ? children_.At(position).get() : nullptr;
}

KeyNode* KeyNode::CreateChild(std::u16string_view name, bool isVolatile,
                              bool* created) {
  bool found = false;
  const std::size_t position = ChildPosition(name, found);
  if (created != nullptr) *created = !found;
  if (found) return children_.At(position).get();
  auto child =
      std::make_shared<KeyNode>(tree_, this, std::u16string(name), isVolatile);
  KeyNode* raw = child.get();
  children_.Insert(position, std::move(child));
  if (children_.Size() == kSmall + 1) {
    IndexChildren();
  } else if (children_.Size() > kSmall) {
    classAndIndexes_->childNames.Add(name.size());
    classAndIndexes_->childClasses.Add(0);
  }
  Touch();
  return raw;
}

void KeyNode::IndexChildren() {
  ClassAndIndexes& indexes = MakeClassAndIndexes();
  children_.ForEach([&indexes](const std::shared_ptr<KeyNode>& child) {
    indexes.childNames.Add(child->name_.size());
    indexes.childClasses.Add(child->ClassName().size());
  });
}

bool KeyNode::RemoveChild(std::u16string_view name) {
  bool found = false;
  const std::size_t position = ChildPosition(name, found);
  if (!found) return false;
  std::shared_ptr<KeyNode> child = children_.Erase(position);
  if (children_.Size() == kSmall) {
    classAndIndexes_->childNames.Clear();
    classAndIndexes_->childClasses.Clear();
  } else if (children_.Size() > kSmall) {
    classAndIndexes_->childNames.Remove(child->name_.size());
    classAndIndexes_->childClasses.Remove(child->ClassName().size());
  }
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
    node->children_.ForEach([&pending](std::shared_ptr<KeyNode>& child) {
      pending.push_back(child.get());
    });
  }
}

std::vector<KeyNode*> KeyNode::Children() const {
  std::vector<KeyNode*> result;
  result.reserve(children_.Size());
  children_.ForEach([&result](const std::shared_ptr<KeyNode>& child) {
    result.push_back(child.get());
  });
  return result;
}

const KeyValue* KeyNode::ValueAt(std::size_t index) const {
  return index < values_.Size() ? &values_.At(index) : nullptr;
}

detail::StoredValue* KeyNode::FindStored(std::u16string_view name,
                                         std::size_t* position) {
  const std::size_t count = values_.Size();
  if (count <= kSmall) {
    for (std::size_t i = 0; i < count; ++i) {
      detail::StoredValue& value = values_.At(i);
      // Folding keeps lengths, so names of another length never match.
      if (value.name.size() == name.size() &&
          CompareNames(value.name, name) == 0) {
        if (position != nullptr) *position = i;
        return &value;
      }
    }
    return nullptr;
  }
  const auto it = classAndIndexes_->valueSerials.find(FoldName(name));
  if (it == classAndIndexes_->valueSerials.end()) return nullptr;
  const std::uint32_t serial = it->second;
  const std::size_t at = values_.LowerBound(
      [serial](const detail::StoredValue& v) { return v.serial < serial; });
  if (position != nullptr) *position = at;
  return &values_.At(at);
}

const KeyValue* KeyNode::FindValue(std::u16string_view name) const {
  return const_cast<KeyNode*>(this)->FindStored(name);
}

void KeyNode::IndexValues() {
  ClassAndIndexes& indexes = MakeClassAndIndexes();
  indexes.valueSerials.clear();
  indexes.valueNames.Clear();
  indexes.valueSizes.Clear();
  std::uint32_t serial = 0;
  values_.ForEach([&](detail::StoredValue& value) {
    value.serial = serial;
    indexes.valueSerials.emplace(FoldName(value.name), serial++);
    indexes.valueNames.Add(value.name.size());
    indexes.valueSizes.Add(value.data.size());
  });
  indexes.nextSerial = serial;
}

void KeyNode::SetValue(std::u16string_view name, DWORD type,
                       std::vector<BYTE> data) {
  if (detail::StoredValue* value = FindStored(name)) {
    if (values_.Size() > kSmall) {
      classAndIndexes_->valueSizes.Remove(value->data.size());
      classAndIndexes_->valueSizes.Add(data.size());
    }
    value->type = type;
    value->data = std::move(data);
    Touch();
    return;
  }
  detail::StoredValue value;
  value.name.assign(name);
  value.data = std::move(data);
  value.type = type;
  const std::size_t dataSize = value.data.size();
  values_.Insert(values_.Size(), std::move(value));
  const std::size_t count = values_.Size();
  if (count == kSmall + 1 ||
      (count > kSmall && classAndIndexes_->nextSerial ==
                             std::numeric_limits<std::uint32_t>::max())) {
    // Serials are given out afresh (0, 1, …) when the index is made and
    // when they run out.
    IndexValues();
  } else if (count > kSmall) {
    ClassAndIndexes& indexes = *classAndIndexes_;
    const std::uint32_t serial = indexes.nextSerial++;
    values_.At(count - 1).serial = serial;
    indexes.valueSerials.emplace(FoldName(name), serial);
    indexes.valueNames.Add(name.size());
    indexes.valueSizes.Add(dataSize);
  }
  Touch();
}

bool KeyNode::DeleteValue(std::u16string_view name) {
  std::size_t position = 0;
  if (FindStored(name, &position) == nullptr) return false;
  const detail::StoredValue removed = values_.Erase(position);
  if (values_.Size() == kSmall) {
    ClassAndIndexes& indexes = *classAndIndexes_;
    std::unordered_map<std::u16string, std::uint32_t>().swap(
        indexes.valueSerials);
    indexes.valueNames.Clear();
    indexes.valueSizes.Clear();
  } else if (values_.Size() > kSmall) {
    classAndIndexes_->valueSerials.erase(FoldName(removed.name));
    classAndIndexes_->valueNames.Remove(removed.name.size());
    classAndIndexes_->valueSizes.Remove(removed.data.size());
  }
  Touch();
  return true;
}

std::vector<const KeyValue*> KeyNode::Values() const {
  std::vector<const KeyValue*> result;
  result.reserve(values_.Size());
  values_.ForEach([&result](const detail::StoredValue& value) {
    result.push_back(&value);
  });
  return result;
}

namespace {

template <class Sequence, class Length>
std::size_t Longest(const Sequence& items, Length length) {
  std::size_t longest = 0;
  items.ForEach(
      [&](const auto& item) { longest = std::max(longest, length(item)); });
  return longest;
}

}  // namespace

std::size_t KeyNode::MaxChildNameLength() const {
  if (children_.Size() > kSmall) return classAndIndexes_->childNames.Max();
  return Longest(children_, [](const std::shared_ptr<KeyNode>& child) {
    return child->name_.size();
  });
}
std::size_t KeyNode::MaxChildClassLength() const {
  if (children_.Size() > kSmall) return classAndIndexes_->childClasses.Max();
  return Longest(children_, [](const std::shared_ptr<KeyNode>& child) {
    return child->ClassName().size();
  });
}
std::size_t KeyNode::MaxValueNameLength() const {
  if (values_.Size() > kSmall) return classAndIndexes_->valueNames.Max();
  return Longest(values_, [](const detail::StoredValue& value) {
    return value.name.size();
  });
}
std::size_t KeyNode::MaxValueDataSize() const {
  if (values_.Size() > kSmall) return classAndIndexes_->valueSizes.Max();
  return Longest(values_, [](const detail::StoredValue& value) {
    return value.data.size();
  });
}

KeyTree::KeyTree() { Populate(); }

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
  const base::RootKey* key = base::RootKeyOf(root);
  return key != nullptr ? key->name.data() : nullptr;
}

void KeyTree::Clear() {
  for (auto& root : roots_) root->MarkDeletedSubtree();
  roots_.clear();
  Populate();
}

}  // namespace corvane::platform::emulated
