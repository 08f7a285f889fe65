// corvane-reg ADD and DELETE: writing one value (creating the key's missing
// levels first), and deleting a key with its subtree, a value, or them all.
#include <string>

#include "cli/RegCommands.h"
#include "cli/RegCommon.h"

namespace corvane::cli {

using namespace platform;

int Add(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(args,
                                              WithViews({{L"V", true},
                                                         {L"VE", false},
                                                         {L"T", true},
                                                         {L"S", true},
                                                         {L"D", true},
                                                         {L"F", false}}),
                                              L"add");
  const REGSAM view = ViewOption(parsed, L"add");
  if (parsed.positional.size() != 1 ||
      (parsed.Has(L"V") && parsed.Has(L"VE")) ||
      (parsed.Has(L"S") && parsed.Value(L"S").size() != 1)) {
    FailSyntax(L"add");
  }
  const KeyPath path = KeyArgument(parsed.positional[0], L"add", view);
  // Without /v or /ve the data goes to the default value, as reg does it.
  const std::wstring name = parsed.Has(L"V") ? parsed.Value(L"V") : L"";
  DWORD type = REG_SZ;
  if (parsed.Has(L"T")) {
    const auto chosen = AddableType(parsed.Value(L"T"));
    if (!chosen) {
      Fail(L"Unsupported registry data type [" + parsed.Value(L"T") + L"].");
    }
    type = *chosen;
  }
  std::wstring error;
  const auto data =
      ParseData(type, parsed.Has(L"D") ? parsed.Value(L"D") : L"",
                parsed.Has(L"S") ? parsed.Value(L"S") : L"\\0", error);
  if (!data) Fail(error);

  WideKey key;
  Check(WideKey::Create(path.root, path.subKey,
                        KEY_QUERY_VALUE | KEY_SET_VALUE | path.view, key));
  RawValue existing;
  if (!parsed.Has(L"F") && key.Read(name, existing) == ERROR_SUCCESS &&
      !console.Confirm(OverwriteQuestion(name))) {
    console.Out(kCancelled);
    return 0;
  }
  Check(key.Write(name, RawValue{type, *data}));
  console.Out(kSuccess);
  return 0;
}

int Delete(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(
      args,
      WithViews({{L"V", true}, {L"VE", false}, {L"VA", false}, {L"F", false}}),
      L"delete");
  const REGSAM view = ViewOption(parsed, L"delete");
  const int targets = parsed.Has(L"V") + parsed.Has(L"VE") + parsed.Has(L"VA");
  if (parsed.positional.size() != 1 || targets > 1) FailSyntax(L"delete");
  const KeyPath path = KeyArgument(parsed.positional[0], L"delete", view);
  const std::wstring shown = path.Display();
  const bool forced = parsed.Has(L"F");

  if (targets == 0) {
    if (path.subKey.empty()) {
      Fail(L"Invalid key name: a root key can't be deleted.");
    }
    OpenKey(path, KEY_READ);
    if (!forced && !console.Confirm(L"Permanently delete the registry key " +
                                    shown + L" (Yes/No)? ")) {
      console.Out(kCancelled);
      return 0;
    }
    // Through HKEY_CLASSES_ROOT this takes the copy the merged view shows,
    // as reg does; a second call would take the machine's copy as well.
    if (path.view == 0) {
      Check(RegDeleteTreeW(path.root, path.subKey.c_str()));
    } else {
      // RegDeleteTree has no view of its own: the tree is emptied through
      // a handle of the view, and the key deleted in it.
      {
        const WideKey doomed =
            OpenKey(path, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE |
                              KEY_SET_VALUE);
        Check(RegDeleteTreeW(doomed.Handle(), nullptr));
      }
      Check(RegDeleteKeyExW(path.root, path.subKey.c_str(), path.view, 0));
    }
    console.Out(kSuccess);
    return 0;
  }

  const WideKey key = OpenKey(path, KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (parsed.Has(L"VA")) {
    if (!forced &&
        !console.Confirm(L"Delete all values under the registry key " + shown +
                         L" (Yes/No)? ")) {
      console.Out(kCancelled);
      return 0;
    }
    for (const NamedValue& value : ReadValues(key, shown)) {
      Check(key.DeleteValue(value.name));
    }
  } else {
    const std::wstring name = parsed.Has(L"V") ? parsed.Value(L"V") : L"";
    if (!forced && !console.Confirm(L"Delete the registry value " +
                                    (name.empty() ? L"(Default)" : name) +
                                    L" (Yes/No)? ")) {
      console.Out(kCancelled);
      return 0;
    }
    Check(key.DeleteValue(name));
  }
  console.Out(kSuccess);
  return 0;
}

}  // namespace corvane::cli
