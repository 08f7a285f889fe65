// corvane-reg EXPORT and IMPORT: a key tree to and from a regedit .reg file,
// with the same reader and writer the emulated hive uses.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/RegCommon.h"
#include "cli/TextCodec.h"
#include "errors/MErrors.h"
#include "errors/RaisedError.h"
#include "platform/emulated/RegFile.h"
#include "registry/IUseRegItems.h"
#include "variant/Variant.h"

namespace corvane::cli {

using namespace platform;
using emulated::RegSink;
using emulated::RegWriter;

namespace {

// UTF-8 is the one encoding std::filesystem reads the same way everywhere.
std::filesystem::path FilePath(const std::wstring& name) {
  const std::string utf8 = WideToUtf8(name);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::u16string Utf16Of(std::wstring_view text) { return WideToUtf16(text); }

// Hands every key of the tree, then its values, to the .reg writer.
class TreeExporter : public IUseRegItems {
 public:
  TreeExporter(std::wstring top, RegWriter& writer)
      : top_(std::move(top)), writer_(writer) {}

  bool UseNode(const std::shared_ptr<CRegNode>& node,
               std::int32_t iLevel) override {
    paths_.resize(static_cast<std::size_t>(iLevel));
    paths_.push_back(iLevel == 0 ? top_ : paths_.back() + L"\\" + node->Name());
    const std::wstring& path = paths_.back();
    if (!writer_.Key(Utf16Of(path))) {
      Fail(L"The key " + path +
           L" has a line break in its name, which a "
           L".reg file can't hold.");
    }
    AtKey(path, [&] {
      for (const NamedValue& value : ReadValues(node, path)) {
        const Bytes data = ToFileForm(value.value.type, value.value.data);
        writer_.Value(Utf16Of(value.name), value.value.type, data);
      }
    });
    return false;
  }

 private:
  std::wstring top_;
  std::vector<std::wstring> paths_;
  RegWriter& writer_;
};

// Applies what the reader finds, or (when `apply` is false) only checks that
// every key names a root we know, so that a file with a mistake anywhere
// changes nothing.
class ImportSink : public RegSink {
 public:
  explicit ImportSink(bool apply) : apply_(apply) {}

  std::string OnKey(std::u16string_view text) override {
    return Guarded([&] {
      const KeyPath path = RootedPath(text);
      node_ = nullptr;
      if (!apply_) return;
      auto node =
          OpenKey(KeyPath{path.root, path.rootName, L""}, KEY_ALL_ACCESS);
      node_ = path.subKey.empty() ? node : node->AddNode(path.subKey);
    });
  }

  std::string OnDeleteKey(std::u16string_view text) override {
    return Guarded([&] {
      const KeyPath path = RootedPath(text);
      node_ = nullptr;
      if (path.subKey.empty()) Fail(L"a root key can't be deleted");
      if (!apply_) return;
      const auto root =
          OpenKey(KeyPath{path.root, path.rootName, L""}, KEY_ALL_ACCESS);
      bool removed = true;
      // Deleting a key that isn't there is what the line asks for already.
      IgnoringNotFound(
          [&] { removed = root->RemoveNode(Variant(path.subKey)); });
      if (!removed) MErrors::ApiRaise(ERROR_ACCESS_DENIED);
    });
  }

  std::string OnValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    return Guarded([&] {
      if (!node_) return;  // below a deleted key, or checking only
      StoreValue(node_, Utf16ToWide(name),
                 RawValue{type, FromFileForm(type, data)});
    });
  }

  std::string OnDeleteValue(std::u16string_view name) override {
    return Guarded([&] {
      if (!node_) return;
      IgnoringNotFound([&] { node_->RemoveItem(Variant(Utf16ToWide(name))); });
    });
  }

 private:
  static KeyPath RootedPath(std::u16string_view text) {
    const std::wstring wide = Utf16ToWide(text);
    auto path = ParseKeyPath(wide);
    if (!path) Fail(L"unknown root key in [" + wide + L"]");
    return *path;
  }

  template <typename Action>
  static void IgnoringNotFound(Action action) {
    try {
      action();
    } catch (const RaisedError& error) {
      if (error.Number() != MErrors::ApiToCom(ERROR_FILE_NOT_FOUND)) throw;
    }
  }

  // The reader wants a message, not an exception: it adds the file name and
  // line to it.
  template <typename Action>
  static std::string Guarded(Action action) {
    try {
      action();
      return {};
    } catch (const CommandFailure& failure) {
      return WideToUtf8(failure.message);
    } catch (const RaisedError& error) {
      std::wstring text = error.Description();
      while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) {
        text.pop_back();
      }
      return WideToUtf8(text);
    }
  }

  bool apply_;
  std::shared_ptr<CRegNode> node_;
};

}  // namespace

int Export(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(args, {{L"Y", false}}, L"export");
  if (parsed.positional.size() != 2) FailSyntax(L"export");
  const KeyPath path = KeyArgument(parsed.positional[0], L"export");
  const std::wstring& fileName = parsed.positional[1];
  const std::filesystem::path file = FilePath(fileName);
  const auto node = OpenKey(path, KEY_READ);

  std::error_code ignored;
  if (!parsed.Has(L"Y") && std::filesystem::exists(file, ignored) &&
      !console.Confirm(L"File " + fileName +
                       L" already exists. Overwrite (Yes/No)? ")) {
    console.Out(kCancelled);
    return 0;
  }
  RegWriter writer;
  TreeExporter exporter(path.Display(), writer);
  node->WalkAllNodes(exporter, node, 0);
  const std::string bytes = writer.Finish();
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  stream.close();
  if (!stream) Fail(L"Unable to write the file " + fileName + L".");
  console.Out(kSuccess);
  return 0;
}

int Import(const std::vector<std::wstring>& args, RegConsole& console) {
  const CommandArgs parsed = ParseCommandArgs(args, {}, L"import");
  if (parsed.positional.size() != 1) FailSyntax(L"import");
  const std::wstring& fileName = parsed.positional[0];
  std::ifstream stream(FilePath(fileName), std::ios::binary);
  const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(stream),
                                        {});
  if (!stream.is_open() || stream.bad()) {
    Fail(L"Error opening the file " + fileName + L".");
  }
  const std::string name = WideToUtf8(fileName);
  for (const bool apply : {false, true}) {
    ImportSink sink(apply);
    const std::string problem = emulated::ReadRegFile(bytes, name, sink);
    if (!problem.empty()) Fail(Utf8ToWide(problem));
  }
  console.Out(kSuccess);
  return 0;
}

}  // namespace corvane::cli
