// corvane-reg QUERY: a key's values and subkeys, a whole tree (/s), one value
// (/v, /ve), or a search of names and data (/f), laid out as reg prints them.
#include <string>

#include "cli/RegCommon.h"
#include "cli/TextCodec.h"
#include "errors/MErrors.h"
#include "registry/CRegItem.h"
#include "registry/IUseRegItems.h"
#include "registry/MRegTool.h"

namespace corvane::cli {

using namespace platform;

namespace {

// The full path of each key a walk visits: the walk gives a node its own name
// and its level, and the path is its parent's plus that name.
class PathTracker {
 public:
  explicit PathTracker(std::wstring top) : top_(std::move(top)) {}

  const std::wstring& Enter(const CRegNode& node, std::int32_t level) {
    paths_.resize(static_cast<std::size_t>(level));
    paths_.push_back(level == 0 ? top_ : paths_.back() + L"\\" + node.Name());
    return paths_.back();
  }

 private:
  std::wstring top_;
  std::vector<std::wstring> paths_;
};

// /s: every key of the tree with its values. The top key shows only when it
// has values; every key below shows, followed by a blank line.
class TreeLister : public IUseRegItems {
 public:
  TreeLister(std::wstring top, RegConsole& console)
      : paths_(std::move(top)), console_(console) {}

  bool UseNode(const std::shared_ptr<CRegNode>& node,
               std::int32_t iLevel) override {
    const std::wstring& path = paths_.Enter(*node, iLevel);
    std::vector<NamedValue> values;
    AtKey(path, [&] { values = ReadValues(node, path); });
    if (iLevel == 0 && values.empty()) return false;
    console_.Out(path + L"\n");
    for (const NamedValue& value : values) {
      console_.Out(ValueLine(value) + L"\n");
    }
    console_.Out(L"\n");
    return false;
  }

 private:
  PathTracker paths_;
  RegConsole& console_;
};

// /v NAME /s: the keys of the tree that hold the value NAME.
class ValueFinder : public IUseRegItems {
 public:
  ValueFinder(std::wstring top, std::wstring name, RegConsole& console)
      : paths_(std::move(top)), name_(std::move(name)), console_(console) {}

  bool UseNode(const std::shared_ptr<CRegNode>& node,
               std::int32_t iLevel) override {
    const std::wstring& path = paths_.Enter(*node, iLevel);
    NamedValue value{name_, {}};
    LONG status = ERROR_SUCCESS;
    AtKey(path, [&] {
      status = ReadRawValue(HandleOf(*node), name_, value.value);
      if (status != ERROR_FILE_NOT_FOUND) MErrors::ApiRaiseIf(status);
    });
    if (status != ERROR_SUCCESS) return false;
    console_.Out(path + L"\n" + ValueLine(value) + L"\n\n");
    ++matches_;
    return false;
  }

  int Matches() const { return matches_; }

 private:
  PathTracker paths_;
  std::wstring name_;
  RegConsole& console_;
  int matches_ = 0;
};

// /f TEXT: keys below the top whose name holds TEXT, and values whose name or
// data holds it, in any case. Without /s it looks at the top key's values and
// the names of its subkeys only.
class TextFinder : public IUseRegItems {
 public:
  TextFinder(std::wstring top, const std::wstring& text, bool recursive,
             RegConsole& console)
      : paths_(std::move(top)),
        text_(AsciiUpper(text)),
        recursive_(recursive),
        console_(console) {}

  bool UseNode(const std::shared_ptr<CRegNode>& node,
               std::int32_t iLevel) override {
    const std::wstring& path = paths_.Enter(*node, iLevel);
    const bool keyMatches = iLevel > 0 && Holds(node->Name());
    std::vector<NamedValue> found;
    if (iLevel == 0 || recursive_) {
      AtKey(path, [&] {
        for (NamedValue& value : ReadValues(node, path)) {
          if (Holds(value.name) ||
              Holds(FormatData(value.value.type, value.value.data))) {
            found.push_back(std::move(value));
          }
        }
      });
    }
    if (!keyMatches && found.empty()) return false;
    console_.Out(path + L"\n");
    for (const NamedValue& value : found) {
      console_.Out(ValueLine(value) + L"\n");
    }
    console_.Out(L"\n");
    matches_ += static_cast<int>(found.size()) + (keyMatches ? 1 : 0);
    return false;
  }

  int Matches() const { return matches_; }

 private:
  bool Holds(const std::wstring& text) const {
    return AsciiUpper(text).find(text_) != std::wstring::npos;
  }

  PathTracker paths_;
  std::wstring text_;
  bool recursive_;
  RegConsole& console_;
  int matches_ = 0;
};

}  // namespace

int Query(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(
      args, {{L"V", true}, {L"VE", false}, {L"S", false}, {L"F", true}},
      L"query");
  const bool named = parsed.Has(L"V");
  const bool byDefault = parsed.Has(L"VE");
  const bool search = parsed.Has(L"F");
  if (parsed.positional.size() != 1 || (named && byDefault) ||
      (search && (named || byDefault))) {
    FailSyntax(L"query");
  }
  const KeyPath path = KeyArgument(parsed.positional[0], L"query");
  const std::wstring top = path.Display();
  const auto node = OpenKey(path, KEY_READ);
  const bool recursive = parsed.Has(L"S");

  console.Out(L"\n");
  if (search) {
    TextFinder finder(top, parsed.Value(L"F"), recursive, console);
    if (recursive) {
      node->WalkAllNodes(finder, node, 0);
    } else {
      finder.UseNode(node, 0);
      node->WalkNodes(finder, 0);
    }
    console.Out(L"End of search: " + std::to_wstring(finder.Matches()) +
                L" match(es) found.\n");
    return finder.Matches() > 0 ? 0 : 1;
  }

  if (named || byDefault) {
    const std::wstring name = named ? parsed.Value(L"V") : L"";
    if (recursive) {
      ValueFinder finder(top, name, console);
      node->WalkAllNodes(finder, node, 0);
      console.Out(L"Search complete. Number of matches found: " +
                  std::to_wstring(finder.Matches()) + L"\n");
      return 0;
    }
    NamedValue value{name, {}};
    const LONG status = ReadRawValue(HandleOf(*node), name, value.value);
    if (status == ERROR_FILE_NOT_FOUND && byDefault) {
      // reg shows an unset default value instead of failing, without the
      // blank line that ends a listing.
      console.Out(top + L"\n    (Default)    REG_SZ    (value not set)\n");
      return 0;
    }
    if (status == ERROR_FILE_NOT_FOUND) Fail(kNotFound);
    MErrors::ApiRaiseIf(status);
    console.Out(top + L"\n" + ValueLine(value) + L"\n\n");
    return 0;
  }

  if (recursive) {
    TreeLister lister(top, console);
    node->WalkAllNodes(lister, node, 0);
    return 0;
  }
  const auto values = ReadValues(node, top);
  if (!values.empty()) {
    console.Out(top + L"\n");
    for (const NamedValue& value : values) {
      console.Out(ValueLine(value) + L"\n");
    }
    console.Out(L"\n");
  }
  // Names only: a subkey that refuses to be opened is still listed.
  const HKEY hKey = HandleOf(*node);
  const std::int32_t count = node->NodeCount();
  for (std::int32_t position = 0; position < count; ++position) {
    std::wstring name;
    MErrors::ApiRaiseIf(MRegTool::EnumKeyName(hKey, position, name));
    console.Out(top + L"\\" + name + L"\n");
  }
  return 0;
}

}  // namespace corvane::cli
