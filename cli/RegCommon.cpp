// Arguments, failures and value access shared by the corvane-reg commands.
#include "cli/RegCommon.h"

#include <algorithm>
#include <cstring>

#include "cli/TextCodec.h"
#include "errors/MErrors.h"
#include "errors/RaisedError.h"
#include "registry/CRegItem.h"
#include "variant/Variant.h"

namespace corvane::cli {

using namespace platform;

void Fail(std::wstring message) { throw CommandFailure{std::move(message)}; }

void FailSyntax(std::wstring_view command) {
  Fail(L"Invalid syntax.\nType \"corvane-reg " + AsciiUpper(command) +
       L" /?\" for usage.");
}

std::wstring ErrorText(const RaisedError& error) {
  if (error.Number() == MErrors::ApiToCom(ERROR_FILE_NOT_FOUND)) {
    return kNotFound;
  }
  std::wstring text = error.Description();
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' ||
                           text.back() == L' ')) {
    text.pop_back();
  }
  if (text.empty()) text = L"Error " + std::to_wstring(error.Number()) + L".";
  return text;
}

CommandArgs ParseCommandArgs(const std::vector<std::wstring>& args,
                             const std::map<std::wstring, bool>& known,
                             std::wstring_view command) {
  CommandArgs parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    const bool marked = arg.size() > 1 && (arg[0] == L'/' || arg[0] == L'-');
    const auto option =
        marked ? known.find(AsciiUpper(arg.substr(1))) : known.end();
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

KeyPath KeyArgument(const std::wstring& text, std::wstring_view command) {
  auto path = ParseKeyPath(text);
  if (!path) {
    Fail(L"Invalid key name.\nType \"corvane-reg " + AsciiUpper(command) +
         L" /?\" for usage.");
  }
  return *path;
}

HKEY HandleOf(const CRegNode& node) {
  return static_cast<HKEY>(node.Key().ToLong());
}

std::shared_ptr<CRegNode> OpenKey(const KeyPath& path, REGSAM access) {
  auto node = CRegNode::New();
  node->Create(Variant(path.subKey), path.root, access);
  return node;
}

std::vector<NamedValue> ReadValues(const std::shared_ptr<CRegNode>& node,
                                   const std::wstring& where) {
  std::vector<NamedValue> values;
  const HKEY hKey = HandleOf(*node);
  const std::int32_t count = node->ItemCount();
  for (std::int32_t position = 0; position < count; ++position) {
    NamedValue value;
    try {
      value.name = node->Items(Variant(position))->Name();
    } catch (const RaisedError& error) {
      // The model's own refusals (a string value without a single byte) are
      // positive numbers; a failed registry call is passed on as it came.
      if (error.Number() < 0) throw;
      MErrors::ApiRaiseIf(
          RawValueNameAt(hKey, static_cast<DWORD>(position), value.name));
    }
    const LONG status = ReadRawValue(hKey, value.name, value.value);
    if (status == ERROR_FILE_NOT_FOUND) {
      // The name came back through the code page with a "?" for what it
      // couldn't represent, and so names nothing.
      Fail(L"The value \"" + value.name + L"\" of " + where +
           L" has a name the system's code page can't represent.");
    }
    MErrors::ApiRaiseIf(status);
    values.push_back(std::move(value));
  }
  return values;
}

std::wstring ValueLine(const NamedValue& value) {
  return L"    " + (value.name.empty() ? L"(Default)" : value.name) + L"    " +
         TypeName(value.value.type) + L"    " +
         FormatData(value.value.type, value.value.data);
}

void StoreValue(const std::shared_ptr<CRegNode>& node, const std::wstring& name,
                const RawValue& value) {
  const Bytes& data = value.data;
  switch (value.type) {
    case REG_DWORD:
      if (data.size() == 4) {
        std::int32_t field;
        std::memcpy(&field, data.data(), sizeof field);
        node->AddItem(Variant(field), name);
        return;
      }
      break;
    case REG_BINARY:
      if (!data.empty()) {
        node->AddItem(Variant::ByteArray(data), name);
        return;
      }
      break;
    case REG_SZ: {
      // The codec stores text up to one NUL, and makes a text with "%" in it
      // REG_EXPAND_SZ: only a plain string comes out the same.
      const auto nul = std::find(data.begin(), data.end(), 0);
      if (!data.empty() && nul == data.end() - 1 &&
          std::find(data.begin(), data.end(), '%') == data.end()) {
        node->AddItem(Variant(AnsiToWide(std::string(data.begin(), nul))),
                      name);
        return;
      }
      break;
    }
    default:
      break;
  }
  MErrors::ApiRaiseIf(WriteRawValue(HandleOf(*node), name, value));
}

}  // namespace corvane::cli
