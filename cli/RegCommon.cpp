// Arguments, failures, the tree walk and value listing shared by the
// corvane-reg commands.
#include "cli/RegCommon.h"

#include <fstream>

#include "base/AsciiCase.h"
#include "base/ReadAll.h"
#include "base/Unicode.h"

namespace corvane::cli {

using namespace platform;

void Fail(std::wstring message) { throw CommandFailure{std::move(message)}; }

std::filesystem::path FilePath(const std::wstring& name) {
  const std::string utf8 = base::WideToUtf8(name);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::vector<std::uint8_t> ReadFileBytes(const std::wstring& fileName) {
  std::ifstream stream(FilePath(fileName), std::ios::binary);
  std::vector<std::uint8_t> bytes = base::ReadAll(stream);
  if (!stream.is_open() || stream.bad()) {
    Fail(L"Error opening the file " + fileName + L".");
  }
  return bytes;
}

void FailSyntax(std::wstring_view command) {
  Fail(L"Invalid syntax.\nType \"corvane-reg " + base::AsciiUpper(command) +
       L" /?\" for usage.");
}

std::wstring StatusText(LONG status) {
  if (status == ERROR_FILE_NOT_FOUND) return kNotFound;
  wchar_t buffer[512] = {};
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(status), 0, buffer, 512, nullptr);
  std::wstring text(buffer, std::min<DWORD>(length, 512));
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' ||
                           text.back() == L' ')) {
    text.pop_back();
  }
  if (text.empty()) text = L"Error " + std::to_wstring(status) + L".";
  return text;
}

void Check(LONG status) {
  if (status != ERROR_SUCCESS) Fail(StatusText(status));
}

void Check(LONG status, const std::wstring& where) {
  if (status != ERROR_SUCCESS) Fail(StatusText(status) + L" (" + where + L")");
}

CommandArgs ParseCommandArgs(const std::vector<std::wstring>& args,
                             const std::map<std::wstring, bool>& known,
                             std::wstring_view command) {
  CommandArgs parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    const bool marked = arg.size() > 1 && (arg[0] == L'/' || arg[0] == L'-');
    const auto option =
        marked ? known.find(base::AsciiUpper(arg.substr(1))) : known.end();
    if (option == known.end()) {
      parsed.positional.push_back(arg);
      continue;
    }
    std::wstring value;
    if (option->second) {
      if (++i == args.size()) FailSyntax(command);
      value = args[i];
    }
    if (!parsed.options.emplace(option->first, std::move(value)).second) {
      FailSyntax(command);
    }
  }
  return parsed;
}

std::map<std::wstring, bool> WithViews(std::map<std::wstring, bool> known) {
  known.emplace(L"REG:32", false);
  known.emplace(L"REG:64", false);
  return known;
}

REGSAM ViewOption(const CommandArgs& parsed, std::wstring_view command) {
  const bool view32 = parsed.Has(L"REG:32");
  const bool view64 = parsed.Has(L"REG:64");
  if (view32 && view64) FailSyntax(command);
  return view32 ? KEY_WOW64_32KEY : view64 ? KEY_WOW64_64KEY : 0;
}

KeyPath KeyArgument(const std::wstring& text, std::wstring_view command,
                    REGSAM view) {
  auto path = ParseKeyPath(text);
  if (!path) {
    Fail(L"Invalid key name.\nType \"corvane-reg " + base::AsciiUpper(command) +
         L" /?\" for usage.");
  }
  path->view = view;
  return *path;
}

// Keys opened below it keep its view.
WideKey OpenKey(const KeyPath& path, REGSAM access) {
  WideKey key;
  Check(WideKey::Open(path.root, path.subKey, access | path.view, key));
  return key;
}

namespace {

void WalkBelow(const WideKey& key, const std::wstring& path, int level,
               const KeyVisitor& visit) {
  visit(key, path, level);
  std::vector<std::wstring> names;
  Check(key.SubKeyNames(names), path);
  for (const std::wstring& name : names) {
    const std::wstring childPath = path + L"\\" + name;
    WideKey child;
    Check(WideKey::Open(key.Handle(), name, KEY_READ, child), childPath);
    WalkBelow(child, childPath, level + 1, visit);
  }
}

}  // namespace

void WalkTree(const WideKey& top, const std::wstring& topPath,
              const KeyVisitor& visit) {
  WalkBelow(top, topPath, 0, visit);
}

std::vector<NamedValue> ReadValues(const WideKey& key,
                                   const std::wstring& where) {
  std::vector<NamedValue> values;
  Check(key.Values(values), where);
  return values;
}

std::wstring ValueLine(const NamedValue& value) {
  return L"    " + (value.name.empty() ? L"(Default)" : value.name) + L"    " +
         TypeName(value.value.type) + L"    " +
         FormatData(value.value.type, value.value.data);
}

std::wstring OverwriteQuestion(const std::wstring& valueName) {
  return L"Value " + (valueName.empty() ? L"(Default)" : valueName) +
         L" exists, overwrite (Yes/No)? ";
}

}  // namespace corvane::cli
