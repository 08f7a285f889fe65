// corvane-reg SAVE, LOAD, UNLOAD and RESTORE: a key tree to and from a hive
// file, through the registry's own hive functions. As Windows' reg, SAVE
// asks before it replaces a file (/y: without asking), LOAD and UNLOAD take
// a key directly below HKLM or HKU, and each reports a refusal in the
// system's words.
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/RegCommands.h"
#include "cli/RegCommon.h"

namespace corvane::cli {

using namespace platform;

namespace {

// The file name as the registry's W functions take it.
std::wstring FileArgument(const std::wstring& name) {
  return FilePath(name).wstring();
}

// As Windows' reg, the privileges are enabled first; a process that lacks
// them is told so by the call that needs them.
void EnablePrivileges() { (void)EnableHivePrivileges(); }

// A key directly below HKLM or HKU, as LOAD and UNLOAD take it.
KeyPath HiveKeyArgument(const std::wstring& text, std::wstring_view command) {
  const KeyPath path = KeyArgument(text, command);
  if ((path.root != HKEY_LOCAL_MACHINE && path.root != HKEY_USERS) ||
      path.subKey.empty() || path.subKey.find(L'\\') != std::wstring::npos) {
    Fail(L"Invalid key name.\nType \"corvane-reg " +
         std::wstring(command == L"load" ? L"LOAD" : L"UNLOAD") +
         L" /?\" for usage.");
  }
  return path;
}

}  // namespace

int Save(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed =
      ParseCommandArgs(args, WithViews({{L"Y", false}}), L"save");
  const REGSAM view = ViewOption(parsed, L"save");
  if (parsed.positional.size() != 2 || args[0] != parsed.positional[0] ||
      args[1] != parsed.positional[1]) {
    FailSyntax(L"save");
  }
  const KeyPath path = KeyArgument(parsed.positional[0], L"save", view);
  const std::wstring& fileName = parsed.positional[1];
  EnablePrivileges();
  const WideKey key = OpenKey(path, KEY_READ);
  const std::filesystem::path file = FilePath(fileName);
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) {
    if (!parsed.Has(L"Y") &&
        !console.Confirm(L"File " + fileName +
                         L" already exists. Overwrite (Yes/No)? ")) {
      console.Out(kCancelled);
      return 0;
    }
    // The registry writes new files only.
    if (!std::filesystem::is_directory(file, ec)) {
      std::filesystem::remove(file, ec);
    }
  }
  Check(RegSaveKeyExW(key.Handle(), FileArgument(fileName).c_str(), nullptr,
                      REG_LATEST_FORMAT));
  console.Out(kSuccess);
  return 0;
}

int Load(const std::vector<std::wstring>& args, RegConsole& console) {
  // A hive is loaded below a root key, which both views share.
  const CommandArgs parsed = ParseCommandArgs(args, WithViews({}), L"load");
  ViewOption(parsed, L"load");
  if (parsed.positional.size() != 2) FailSyntax(L"load");
  const KeyPath path = HiveKeyArgument(parsed.positional[0], L"load");
  EnablePrivileges();
  Check(RegLoadKeyW(path.root, path.subKey.c_str(),
                    FileArgument(parsed.positional[1]).c_str()));
  console.Out(kSuccess);
  return 0;
}

int Unload(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, L"unload");
  if (parsed.positional.size() != 1) FailSyntax(L"unload");
  const KeyPath path = HiveKeyArgument(parsed.positional[0], L"unload");
  EnablePrivileges();
  Check(RegUnLoadKeyW(path.root, path.subKey.c_str()));
  console.Out(kSuccess);
  return 0;
}

int Restore(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(args, WithViews({}), L"restore");
  const REGSAM view = ViewOption(parsed, L"restore");
  if (parsed.positional.size() != 2) FailSyntax(L"restore");
  const KeyPath path = KeyArgument(parsed.positional[0], L"restore", view);
  EnablePrivileges();
  const WideKey key = OpenKey(path, KEY_ALL_ACCESS);
  Check(RegRestoreKeyW(key.Handle(), FileArgument(parsed.positional[1]).c_str(),
                       0));
  console.Out(kSuccess);
  return 0;
}

}  // namespace corvane::cli
