// What the corvane-reg commands share: their arguments, their failures, and
// opening keys and reading or storing values through the object model.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/RawValue.h"
#include "cli/RegCommand.h"
#include "cli/RegPath.h"
#include "errors/RaisedError.h"
#include "platform/Platform.h"
#include "registry/CRegNode.h"

namespace corvane::cli {

// A failure the user is told about as "ERROR: <message>" (the message may
// span lines). Raised errors of the model are turned into one by
// RunRegCommand.
struct CommandFailure {
  std::wstring message;
};
[[noreturn]] void Fail(std::wstring message);
// reg's answer to a command line it can't make sense of.
[[noreturn]] void FailSyntax(std::wstring_view command);
// The message for an error the model raised: reg's wording for a missing key
// or value, otherwise the system's text without its line break.
std::wstring ErrorText(const RaisedError& error);
// Runs `visit` for the key at `path` during a walk; an error it raises is
// reported with that path, since a walk's failure alone doesn't say where.
template <typename Visit>
void AtKey(const std::wstring& path, Visit visit) {
  try {
    visit();
  } catch (const RaisedError& error) {
    Fail(ErrorText(error) + L" (" + path + L")");
  }
}

// A command's arguments after the command word. Only the options the command
// knows are options (so a Linux path "/tmp/x.reg" is a plain argument);
// option names are kept in capitals without their "/" or "-".
struct CommandArgs {
  std::vector<std::wstring> positional;
  std::map<std::wstring, std::wstring> options;

  bool Has(const std::wstring& option) const {
    return options.contains(option);
  }
  const std::wstring& Value(const std::wstring& option) const {
    return options.at(option);
  }
};
// `known` maps each option to whether a value follows it. A repeated option
// or a missing value is a syntax error of `command`.
CommandArgs ParseCommandArgs(const std::vector<std::wstring>& args,
                             const std::map<std::wstring, bool>& known,
                             std::wstring_view command);
// The key argument; a root it doesn't know is reported as reg reports it.
KeyPath KeyArgument(const std::wstring& text, std::wstring_view command);

platform::HKEY HandleOf(const CRegNode& node);
// A node on `path` (the root itself when the path is empty). Raises the
// registry's status when the key can't be opened.
std::shared_ptr<CRegNode> OpenKey(const KeyPath& path, platform::REGSAM access);

struct NamedValue {
  std::wstring name;
  RawValue value;
};
// The values of `node`'s key in the registry's order. `where` names the key
// in the failure for a value that the code page can't name.
std::vector<NamedValue> ReadValues(const std::shared_ptr<CRegNode>& node,
                                   const std::wstring& where);
// "    name    TYPE    data", with "(Default)" for the default value.
std::wstring ValueLine(const NamedValue& value);
// Stores `value` as `name`, through the model when its codec writes exactly
// these type and bytes, directly otherwise.
void StoreValue(const std::shared_ptr<CRegNode>& node, const std::wstring& name,
                const RawValue& value);

int Query(const std::vector<std::wstring>& args, RegConsole& console);
int Add(const std::vector<std::wstring>& args, RegConsole& console);
int Delete(const std::vector<std::wstring>& args, RegConsole& console);
int Export(const std::vector<std::wstring>& args, RegConsole& console);
int Import(const std::vector<std::wstring>& args, RegConsole& console);

inline constexpr wchar_t kSuccess[] =
    L"The operation completed successfully.\n";
inline constexpr wchar_t kCancelled[] = L"The operation was cancelled.\n";
inline constexpr wchar_t kNotFound[] =
    L"The system was unable to find the specified registry key or value.";

}  // namespace corvane::cli
