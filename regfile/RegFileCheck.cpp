// A .reg file checked whole before anything is applied: what every importer
// would otherwise refuse half-way (an unknown root, a root deleted, a value
// that belongs to no key), found without touching a registry.
#include <string>

#include "base/RootKeys.h"
#include "base/Unicode.h"
#include "regfile/KeyPathChain.h"
#include "regfile/RegFile.h"

namespace corvane::regfile {
namespace {

// A key path must start with a root key's name; `rootOnly` tells whether
// that is all it names.
std::string CheckPath(std::u16string_view path, bool& rootOnly) {
  std::size_t pos = 0, end = 0;
  if (!NextName(path, pos, end)) return "empty key name";
  const std::u16string_view root = path.substr(pos, end - pos);
  if (base::FindRootKey(root) == nullptr) {
    return "unknown root key '" + base::Utf16ToUtf8(root) + "'";
  }
  pos = end;
  rootOnly = !NextName(path, pos, end);
  return {};
}

}  // namespace

std::string CheckingSink::OnKey(std::u16string_view path) {
  bool rootOnly = false;
  std::string err = CheckPath(path, rootOnly);
  inKey_ = err.empty();
  return inKey_ ? next_.OnKey(path) : err;
}

std::string CheckingSink::OnDeleteKey(std::u16string_view path) {
  inKey_ = false;
  bool rootOnly = false;
  if (std::string err = CheckPath(path, rootOnly); !err.empty()) return err;
  if (rootOnly) return "a root key can't be deleted";
  return next_.OnDeleteKey(path);
}

std::string CheckingSink::OnValue(std::u16string_view name, std::uint32_t type,
                                  std::span<const std::uint8_t> data) {
  return inKey_ ? next_.OnValue(name, type, data) : "value outside a key";
}

std::string CheckingSink::OnDeleteValue(std::u16string_view name) {
  return inKey_ ? next_.OnDeleteValue(name) : "value outside a key";
}

std::string CheckRegFile(std::span<const std::uint8_t> bytes,
                         std::string_view fileName) {
  struct Nothing : RegSink {
    std::string OnKey(std::u16string_view) override { return {}; }
    std::string OnDeleteKey(std::u16string_view) override { return {}; }
    std::string OnValue(std::u16string_view, std::uint32_t,
                        std::span<const std::uint8_t>) override {
      return {};
    }
    std::string OnDeleteValue(std::u16string_view) override { return {}; }
  } nothing;
  CheckingSink sink(nothing);
  return ReadRegFile(bytes, fileName, sink);
}

}  // namespace corvane::regfile
