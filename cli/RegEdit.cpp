// corvane-reg ADD and DELETE: writing one value (creating the key's missing
// levels first), and deleting a key with its subtree, a value, or them all.
#include <string>

#include "cli/RegCommon.h"
#include "errors/MErrors.h"
#include "errors/RaisedError.h"
#include "variant/Variant.h"

namespace corvane::cli {

using namespace platform;

namespace {

// A raised "not found" from the model, as reg words it.
template <typename Action>
void OrNotFound(Action action) {
  try {
    action();
  } catch (const RaisedError& error) {
    if (error.Number() == MErrors::ApiToCom(ERROR_FILE_NOT_FOUND)) {
      Fail(kNotFound);
    }
    throw;
  }
}

}  // namespace

int Add(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(args,
                                              {{L"V", true},
                                               {L"VE", false},
                                               {L"T", true},
                                               {L"S", true},
                                               {L"D", true},
                                               {L"F", false}},
                                              L"add");
  if (parsed.positional.size() != 1 ||
      (parsed.Has(L"V") && parsed.Has(L"VE")) ||
      (parsed.Has(L"S") && parsed.Value(L"S").size() != 1)) {
    FailSyntax(L"add");
  }
  const KeyPath path = KeyArgument(parsed.positional[0], L"add");
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

  auto node = OpenKey(KeyPath{path.root, path.rootName, L""}, KEY_ALL_ACCESS);
  if (!path.subKey.empty()) node = node->AddNode(path.subKey);
  RawValue existing;
  if (!parsed.Has(L"F") &&
      ReadRawValue(HandleOf(*node), name, existing) == ERROR_SUCCESS &&
      !console.Confirm(L"Value " + (name.empty() ? L"(Default)" : name) +
                       L" exists, overwrite (Yes/No)? ")) {
    console.Out(kCancelled);
    return 0;
  }
  StoreValue(node, name, RawValue{type, *data});
  console.Out(kSuccess);
  return 0;
}

int Delete(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(
      args, {{L"V", true}, {L"VE", false}, {L"VA", false}, {L"F", false}},
      L"delete");
  const int targets = parsed.Has(L"V") + parsed.Has(L"VE") + parsed.Has(L"VA");
  if (parsed.positional.size() != 1 || targets > 1) FailSyntax(L"delete");
  const KeyPath path = KeyArgument(parsed.positional[0], L"delete");
  const std::wstring shown = path.Display();
  const bool forced = parsed.Has(L"F");

  if (targets == 0) {
    if (path.subKey.empty()) {
      Fail(L"Invalid key name: a root key can't be deleted.");
    }
    OrNotFound([&] { OpenKey(path, KEY_READ); });
    const auto root =
        OpenKey(KeyPath{path.root, path.rootName, L""}, KEY_ALL_ACCESS);
    if (!forced && !console.Confirm(L"Permanently delete the registry key " +
                                    shown + L" (Yes/No)? ")) {
      console.Out(kCancelled);
      return 0;
    }
    bool removed = false;
    OrNotFound([&] { removed = root->RemoveNode(Variant(path.subKey)); });
    if (!removed) MErrors::ApiRaise(ERROR_ACCESS_DENIED);
    console.Out(kSuccess);
    return 0;
  }

  std::shared_ptr<CRegNode> node;
  OrNotFound([&] { node = OpenKey(path, KEY_ALL_ACCESS); });
  if (parsed.Has(L"VA")) {
    if (!forced &&
        !console.Confirm(L"Delete all values under the registry key " + shown +
                         L" (Yes/No)? ")) {
      console.Out(kCancelled);
      return 0;
    }
    for (const NamedValue& value : ReadValues(node, shown)) {
      node->RemoveItem(Variant(value.name));
    }
  } else {
    const std::wstring name = parsed.Has(L"V") ? parsed.Value(L"V") : L"";
    if (!forced && !console.Confirm(L"Delete the registry value " +
                                    (name.empty() ? L"(Default)" : name) +
                                    L" (Yes/No)? ")) {
      console.Out(kCancelled);
      return 0;
    }
    OrNotFound([&] { node->RemoveItem(Variant(name)); });
  }
  console.Out(kSuccess);
  return 0;
}

}  // namespace corvane::cli
