// corvane-reg EXPORT and IMPORT: a key tree to and from a regedit .reg file.
// Export walks the tree through the wide functions into the shared .reg
// writer; import hands the file to the platform, which checks it whole
// before it changes anything.
#include <filesystem>
#include <fstream>
#include <string>

#include "base/Unicode.h"
#include "cli/RegCommands.h"
#include "cli/RegCommon.h"
#include "regfile/RegFile.h"

namespace corvane::cli {

using namespace platform;

int Export(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed =
      ParseCommandArgs(args, WithViews({{L"Y", false}}), L"export");
  const REGSAM view = ViewOption(parsed, L"export");
  // reg takes /y and the views only after KEY and FILE.
  if (parsed.positional.size() != 2 || args[0] != parsed.positional[0] ||
      args[1] != parsed.positional[1]) {
    FailSyntax(L"export");
  }
  const KeyPath path = KeyArgument(parsed.positional[0], L"export", view);
  const std::wstring& fileName = parsed.positional[1];
  const std::filesystem::path file = FilePath(fileName);
  const WideKey key = OpenKey(path, KEY_READ);

  std::error_code ignored;
  if (!parsed.Has(L"Y") && std::filesystem::exists(file, ignored) &&
      !console.Confirm(L"File " + fileName +
                       L" already exists. Overwrite (Yes/No)? ")) {
    console.Out(kCancelled);
    return 0;
  }
  regfile::RegWriter writer;
  WalkTree(key, path.Display(),
           [&](const WideKey& at, const std::wstring& where, int) {
             if (!writer.Key(base::WideToUtf16(where))) {
               Fail(L"The key " + where +
                    L" has a line break in its name, which a .reg file "
                    L"can't hold.");
             }
             for (const NamedValue& value : ReadValues(at, where)) {
               writer.Value(base::WideToUtf16(value.name), value.value.type,
                            value.value.data);
             }
           });
  const std::string bytes = writer.Finish();
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  stream.close();
  if (!stream) Fail(L"Unable to write the file " + fileName + L".");
  console.Out(kSuccess);
  return 0;
}

int Import(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(args, WithViews({}), L"import");
  const REGSAM view = ViewOption(parsed, L"import");
  if (parsed.positional.size() != 1) FailSyntax(L"import");
  const std::wstring& fileName = parsed.positional[0];
  const std::vector<std::uint8_t> bytes = ReadFileBytes(fileName);
  const std::string problem =
      ImportRegFile(bytes, base::WideToUtf8(fileName), view);
  if (!problem.empty()) Fail(base::Utf8ToWide(problem));
  console.Out(kSuccess);
  return 0;
}

}  // namespace corvane::cli
