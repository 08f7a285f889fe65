// A .reg file checked whole before anything is applied: what every importer
// would otherwise refuse half-way (an unknown root, a root deleted, a value
// that belongs to no key), found without touching a registry.
#include <string>
#include <vector>

#include "base/RootKeys.h"
#include "base/Unicode.h"
#include "regfile/RegFile.h"

namespace corvane::regfile {
namespace {

// The components of a key path; doubled backslashes drop out.
std::vector<std::u16string_view> Split(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t end = path.find(u'\\', pos);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > pos) parts.push_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

std::string CheckPath(std::u16string_view path,
                      std::vector<std::u16string_view>& parts) {
  parts = Split(path);
  if (parts.empty()) return "empty key name";
  if (base::FindRootKey(parts.front()) == nullptr) {
    return "unknown root key '" + base::Utf16ToUtf8(parts.front()) + "'";
  }
  return {};
}

}  // namespace

std::string CheckingSink::OnKey(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  std::string err = CheckPath(path, parts);
  inKey_ = err.empty();
  return inKey_ ? next_.OnKey(path) : err;
}

std::string CheckingSink::OnDeleteKey(std::u16string_view path) {
  inKey_ = false;
  std::vector<std::u16string_view> parts;
  if (std::string err = CheckPath(path, parts); !err.empty()) return err;
  if (parts.size() == 1) return "a root key can't be deleted";
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
