// corvane-reg COMPARE: two keys, or a key and a .reg file, item by item.
// Each item is printed after "=", "<" or ">" as the output option asks, and
// the command ends with the verdict: exit 0 identical, 2 different. It only
// ever reads.
#include <algorithm>
#include <optional>
#include <string>

#include "cli/KeySnapshot.h"
#include "cli/RegCommands.h"
#include "cli/RegCommon.h"

namespace corvane::cli {

using namespace platform;

namespace {

// One side of the comparison: a key, or a .reg file searched for the other
// side's key.
struct Side {
  std::wstring argument;
  std::optional<KeyPath> key;  // nothing for a file
};

Side SideOf(const std::wstring& argument, REGSAM view) {
  Side side{argument, ParseKeyPath(argument)};
  if (side.key) side.key->view = view;
  return side;
}

enum class Shown { kAll, kDifferences, kMatches, kNothing };

Shown ShownOf(const CommandArgs& parsed) {
  const int chosen = parsed.Has(L"OA") + parsed.Has(L"OD") + parsed.Has(L"OS") +
                     parsed.Has(L"ON");
  if (chosen > 1) FailSyntax(L"compare");
  if (parsed.Has(L"OA")) return Shown::kAll;
  if (parsed.Has(L"OS")) return Shown::kMatches;
  if (parsed.Has(L"ON")) return Shown::kNothing;
  return Shown::kDifferences;
}

const NamedValue* FindValue(const KeySnapshot& key,
                            const std::u16string& folded) {
  for (const NamedValue& value : key.values) {
    if (FoldedName(value.name) == folded) return &value;
  }
  return nullptr;
}

bool SameValue(const NamedValue& a, const NamedValue& b) {
  return a.value.type == b.value.type && a.value.data == b.value.data;
}

// Subkeys of both sides, paired by name in the registry's order.
struct SubkeyPair {
  const KeySnapshot* first = nullptr;
  const KeySnapshot* second = nullptr;
};

std::vector<SubkeyPair> PairSubkeys(const KeySnapshot& first,
                                    const KeySnapshot& second) {
  std::vector<std::pair<std::u16string, SubkeyPair>> pairs;
  auto slot = [&](const std::wstring& name) -> SubkeyPair& {
    const std::u16string folded = FoldedName(name);
    for (auto& [key, pair] : pairs) {
      if (key == folded) return pair;
    }
    return pairs.emplace_back(folded, SubkeyPair{}).second;
  };
  for (const KeySnapshot& key : first.subkeys) slot(key.name).first = &key;
  for (const KeySnapshot& key : second.subkeys) slot(key.name).second = &key;
  std::stable_sort(
      pairs.begin(), pairs.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<SubkeyPair> ordered;
  for (auto& [key, pair] : pairs) ordered.push_back(pair);
  return ordered;
}

class Comparison {
 public:
  Comparison(RegConsole& console, Shown shown,
             std::optional<std::wstring> onlyValue, bool recursive)
      : console_(console),
        shown_(shown),
        onlyValue_(std::move(onlyValue)),
        recursive_(recursive) {}

  void Keys(const KeySnapshot& first, const std::wstring& firstPath,
            const KeySnapshot& second, const std::wstring& secondPath) {
    if (onlyValue_) {
      OneValue(first, firstPath, second, secondPath);
    } else {
      AllValues(first, firstPath, second, secondPath);
    }
    if (onlyValue_ && !recursive_) return;
    for (const SubkeyPair& pair : PairSubkeys(first, second)) {
      if (pair.first == nullptr) {
        Key(L'>', secondPath + L"\\" + pair.second->name);
      } else if (pair.second == nullptr) {
        Key(L'<', firstPath + L"\\" + pair.first->name);
      } else {
        const std::wstring firstChild = firstPath + L"\\" + pair.first->name;
        Key(L'=', firstChild);
        if (recursive_) {
          Keys(*pair.first, firstChild, *pair.second,
               secondPath + L"\\" + pair.second->name);
        }
      }
    }
  }

  bool Different() const { return different_; }
  bool SawValue() const { return sawValue_; }

 private:
  void AllValues(const KeySnapshot& first, const std::wstring& firstPath,
                 const KeySnapshot& second, const std::wstring& secondPath) {
    for (const NamedValue& value : first.values) {
      const NamedValue* other = FindValue(second, FoldedName(value.name));
      Values(&value, firstPath, other, secondPath);
    }
    for (const NamedValue& value : second.values) {
      if (FindValue(first, FoldedName(value.name)) == nullptr) {
        Values(nullptr, firstPath, &value, secondPath);
      }
    }
  }

  void OneValue(const KeySnapshot& first, const std::wstring& firstPath,
                const KeySnapshot& second, const std::wstring& secondPath) {
    const std::u16string folded = FoldedName(*onlyValue_);
    Values(FindValue(first, folded), firstPath, FindValue(second, folded),
           secondPath);
  }

  void Values(const NamedValue* first, const std::wstring& firstPath,
              const NamedValue* second, const std::wstring& secondPath) {
    if (first == nullptr && second == nullptr) return;
    sawValue_ = true;
    if (first != nullptr && second != nullptr && SameValue(*first, *second)) {
      Print(true, L"= Value: " + firstPath + ValueLine(*first));
      return;
    }
    if (first != nullptr)
      Print(false, L"< Value: " + firstPath + ValueLine(*first));
    if (second != nullptr) {
      Print(false, L"> Value: " + secondPath + ValueLine(*second));
    }
  }

  void Key(wchar_t mark, const std::wstring& path) {
    Print(mark == L'=', std::wstring(1, mark) + L" Key: " + path);
  }

  void Print(bool same, const std::wstring& line) {
    if (!same) different_ = true;
    const bool wanted =
        shown_ == Shown::kAll ||
        (same ? shown_ == Shown::kMatches : shown_ == Shown::kDifferences);
    if (wanted) console_.Out(line + L"\n");
  }

  RegConsole& console_;
  Shown shown_;
  std::optional<std::wstring> onlyValue_;
  bool recursive_;
  bool different_ = false;
  bool sawValue_ = false;
};

// A side's snapshot and the path its items are shown under. A file is
// searched for, and shown as, the key on the other side.
KeySnapshot Read(const Side& side, const Side& other, SnapshotDepth depth,
                 std::wstring& shownPath) {
  if (side.key) {
    shownPath = side.key->Display();
    return ReadKeySnapshot(OpenKey(*side.key, KEY_READ), shownPath, depth);
  }
  shownPath = other.key->Display();
  return ReadRegFileSnapshot(side.argument, *other.key, depth);
}

}  // namespace

int Compare(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(args,
                                              WithViews({{L"V", true},
                                                         {L"VE", false},
                                                         {L"OA", false},
                                                         {L"OD", false},
                                                         {L"OS", false},
                                                         {L"ON", false},
                                                         {L"S", false}}),
                                              L"compare");
  const REGSAM view = ViewOption(parsed, L"compare");
  if (parsed.positional.size() != 2 ||
      (parsed.Has(L"V") && parsed.Has(L"VE"))) {
    FailSyntax(L"compare");
  }
  const Shown shown = ShownOf(parsed);
  const Side first = SideOf(parsed.positional[0], view);
  const Side second = SideOf(parsed.positional[1], view);
  if (!first.key && !second.key) {
    Fail(
        L"Only one side of a comparison can be a .reg file; the other must "
        L"be a key (ROOT\\PATH).");
  }
  std::optional<std::wstring> onlyValue;
  if (parsed.Has(L"V")) onlyValue = parsed.Value(L"V");
  if (parsed.Has(L"VE")) onlyValue = L"";
  const bool recursive = parsed.Has(L"S");
  const SnapshotDepth depth = recursive   ? SnapshotDepth::kTree
                              : onlyValue ? SnapshotDepth::kValues
                                          : SnapshotDepth::kSubkeyNames;

  std::wstring firstPath;
  std::wstring secondPath;
  const KeySnapshot a = Read(first, second, depth, firstPath);
  const KeySnapshot b = Read(second, first, depth, secondPath);
  Comparison comparison(console, shown, onlyValue, recursive);
  comparison.Keys(a, firstPath, b, secondPath);
  if (onlyValue && !recursive && !comparison.SawValue()) Fail(kNotFound);

  console.Out(std::wstring(L"\nResult Compared: ") +
              (comparison.Different() ? L"Different" : L"Identical") + L"\n" +
              kSuccess);
  return comparison.Different() ? 2 : 0;
}

}  // namespace corvane::cli
