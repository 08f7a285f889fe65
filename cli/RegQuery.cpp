// corvane-reg QUERY: a key's values and subkeys, a whole tree (/s), one value
// (/v, /ve), or a search of names and data (/f), laid out as reg prints them.
#include <string>

#include "base/AsciiCase.h"
#include "cli/RegCommands.h"
#include "cli/RegCommon.h"

namespace corvane::cli {

using namespace platform;

namespace {

void PrintKey(RegConsole &console, const std::wstring &path,
              const std::vector<NamedValue> &values) {
  console.Out(path + L"\n");
  for (const NamedValue &value : values) {
    console.Out(ValueLine(value) + L"\n");
  }
  console.Out(L"\n");
}

// /f TEXT: keys below the top whose name holds TEXT, and values whose name or
// data holds it, in any case. Without /s it looks at the top key's values and
// the names of its subkeys only.
class TextFinder {
 public:
  TextFinder(const std::wstring &text, RegConsole &console)
      : text_(base::AsciiUpper(text)), console_(console) {}

  // `key` is null for a key seen by name only.
  void Look(const WideKey *key, const std::wstring &path,
            const std::wstring &name, int level) {
    const bool keyMatches = level > 0 && Holds(name);
    std::vector<NamedValue> found;
    if (key != nullptr) {
      for (NamedValue &value : ReadValues(*key, path)) {
        if (Holds(value.name) ||
            Holds(FormatData(value.value.type, value.value.data))) {
          found.push_back(std::move(value));
        }
      }
    }
    if (!keyMatches && found.empty()) return;
    PrintKey(console_, path, found);
    matches_ += static_cast<int>(found.size()) + (keyMatches ? 1 : 0);
  }

  int Matches() const { return matches_; }

 private:
  bool Holds(const std::wstring &text) const {
    return base::AsciiUpper(text).find(text_) != std::wstring::npos;
  }

  std::wstring text_;
  RegConsole &console_;
  int matches_ = 0;
};

// The last component of a walked path: the key's own name.
std::wstring LastName(const std::wstring &path) {
  return path.substr(path.rfind(L'\\') + 1);
}

// /f: keys, values and data holding a text; reg's "End of search" line ends
// it, and finding nothing is a failure.
int Search(const WideKey &key, const std::wstring &top,
           const std::wstring &text, bool recursive, RegConsole &console) {
  TextFinder finder(text, console);
  if (recursive) {
    WalkTree(key, top,
             [&](const WideKey &at, const std::wstring &where, int level) {
               finder.Look(&at, where, LastName(where), level);
             });
  } else {
    finder.Look(&key, top, L"", 0);
    std::vector<std::wstring> names;
    Check(key.SubKeyNames(names), top);
    for (const std::wstring &name : names) {
      finder.Look(nullptr, top + L"\\" + name, name, 1);
    }
  }
  console.Out(L"End of search: " + std::to_wstring(finder.Matches()) +
              L" match(es) found.\n");
  return finder.Matches() > 0 ? 0 : 1;
}

// /v NAME or /ve: one value, in the key or (with /s) in every key below.
int QueryValue(const WideKey &key, const std::wstring &top,
               const std::wstring &name, bool byDefault, bool recursive,
               RegConsole &console) {
  if (recursive) {
    int matches = 0;
    WalkTree(key, top, [&](const WideKey &at, const std::wstring &where, int) {
      NamedValue value{name, {}};
      const LONG status = at.Read(name, value.value);
      if (status == ERROR_FILE_NOT_FOUND) return;
      Check(status, where);
      PrintKey(console, where, {value});
      ++matches;
    });
    console.Out(L"Search complete. Number of matches found: " +
                std::to_wstring(matches) + L"\n");
    return 0;
  }
  NamedValue value{name, {}};
  const LONG status = key.Read(name, value.value);
  if (status == ERROR_FILE_NOT_FOUND && byDefault) {
    // reg shows an unset default value instead of failing, without the
    // blank line that ends a listing.
    console.Out(top + L"\n    (Default)    REG_SZ    (value not set)\n");
    return 0;
  }
  Check(status);
  PrintKey(console, top, {value});
  return 0;
}

// No option but /s: the key's values and its subkeys' paths, or the tree.
int QueryListing(const WideKey &key, const std::wstring &top, bool recursive,
                 RegConsole &console) {
  if (recursive) {
    // The top key shows only when it has values; every key below shows.
    WalkTree(key, top,
             [&](const WideKey &at, const std::wstring &where, int level) {
               const auto values = ReadValues(at, where);
               if (level > 0 || !values.empty()) {
                 PrintKey(console, where, values);
               }
             });
    return 0;
  }
  const auto values = ReadValues(key, top);
  if (!values.empty()) PrintKey(console, top, values);
  // Names only: a subkey that refuses to be opened is still listed.
  std::vector<std::wstring> names;
  Check(key.SubKeyNames(names), top);
  for (const std::wstring &name : names) {
    console.Out(top + L"\\" + name + L"\n");
  }
  return 0;
}

}  // namespace

int Query(const std::vector<std::wstring> &args, RegConsole &console) {
  const CommandArgs parsed = ParseCommandArgs(
      args,
      WithViews({{L"V", true}, {L"VE", false}, {L"S", false}, {L"F", true}}),
      L"query");
  const REGSAM view = ViewOption(parsed, L"query");
  const bool named = parsed.Has(L"V");
  const bool byDefault = parsed.Has(L"VE");
  const bool search = parsed.Has(L"F");
  if (parsed.positional.size() != 1 || (named && byDefault) ||
      (search && (named || byDefault))) {
    FailSyntax(L"query");
  }
  const KeyPath path = KeyArgument(parsed.positional[0], L"query", view);
  const std::wstring top = path.Display();
  const WideKey key = OpenKey(path, KEY_READ);
  const bool recursive = parsed.Has(L"S");

  console.Out(L"\n");
  if (search) return Search(key, top, parsed.Value(L"F"), recursive, console);
  if (named || byDefault) {
    return QueryValue(key, top, named ? parsed.Value(L"V") : L"", byDefault,
                      recursive, console);
  }
  return QueryListing(key, top, recursive, console);
}

}  // namespace corvane::cli
