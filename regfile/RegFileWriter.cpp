// The .reg writer: files laid out as regedit exports them, so that Windows'
// reg import takes them and a diff against an export shows only real
// changes.
#include <cstdio>
#include <cstring>

#include "base/HexDigits.h"
#include "regfile/RegFile.h"
#include "regfile/RegFormat.h"

namespace corvane::regfile {

RegWriter::RegWriter() {
  out_.assign(reinterpret_cast<const char*>(kUtf16Bom), sizeof kUtf16Bom);
  PutAscii(kHeaderVersion5);
  PutAscii("\r\n");
}

inline void RegWriter::Put(char16_t c) {
  out_.push_back(char(c & 0xFF));
  out_.push_back(char(c >> 8));
}

void RegWriter::PutAscii(std::string_view s) {
  for (char c : s) Put(char16_t(std::uint8_t(c)));
}

void RegWriter::PutEscaped(std::u16string_view s) {
  for (char16_t c : s) {
    switch (c) {
      case u'\\':
      case u'"':
        Put(u'\\');
        Put(c);
        break;
      case u'\r':
        PutAscii("\\r");
        break;
      case u'\n':
        PutAscii("\\n");
        break;
      default:
        Put(c);
    }
  }
}

bool RegWriter::Key(std::u16string_view path) {
  if (path.find_first_of(u"\r\n") != std::u16string_view::npos) return false;
  PutAscii("\r\n[");
  for (char16_t c : path) Put(c);
  PutAscii("]\r\n");
  return true;
}

namespace {

// True for data that a quoted string reproduces exactly: whole UTF-16 units,
// one terminating NUL and nothing a line or the quotes would swallow.
bool QuotableString(std::span<const std::uint8_t> data) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  const std::size_t n = data.size() / 2;
  if (data[2 * n - 2] != 0 || data[2 * n - 1] != 0) return false;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (data[2 * i + 1] != 0) continue;
    const std::uint8_t c = data[2 * i];
    if (c == 0 || c == '\r' || c == '\n') return false;
  }
  return true;
}

std::size_t EscapedLength(std::u16string_view s) {
  std::size_t n = s.size();
  for (char16_t c : s) {
    n += c == u'\\' || c == u'"' || c == u'\r' || c == u'\n';
  }
  return n;
}

}  // namespace

void RegWriter::Value(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) {
  std::size_t lineLength;
  if (name.empty()) {
    PutAscii("@=");
    lineLength = 2;
  } else {
    Put(u'"');
    PutEscaped(name);
    PutAscii("\"=");
    lineLength = EscapedLength(name) + 3;
  }
  char buf[24];
  if (type == kQuotedType && QuotableString(data)) {
    Put(u'"');
    for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
      const char16_t c = char16_t(data[i] | (data[i + 1] << 8));
      if (c == u'\\' || c == u'"') Put(u'\\');
      Put(c);
    }
    Put(u'"');
  } else if (type == kDwordType && data.size() == 4) {
    const std::uint32_t v = std::uint32_t(data[0]) | (data[1] << 8) |
                            (data[2] << 16) | (std::uint32_t(data[3]) << 24);
    std::snprintf(buf, sizeof buf, "%.*s%08x", int(kDwordTag.size()),
                  kDwordTag.data(), unsigned(v));
    PutAscii(buf);
  } else {
    if (type == kBinaryType) {
      std::snprintf(buf, sizeof buf, "%.*s", int(kBinaryTag.size()),
                    kBinaryTag.data());
    } else {
      std::snprintf(buf, sizeof buf, "%.*s%x):", int(kTypedHexTag.size()),
                    kTypedHexTag.data(), unsigned(type));
    }
    PutAscii(buf);
    PutHex(lineLength + std::strlen(buf), data);
  }
  PutAscii("\r\n");
}

// Bytes as "xx," wrapped as regedit does (see kHexWrapColumn).
void RegWriter::PutHex(std::size_t lineLength,
                       std::span<const std::uint8_t> data) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    Put(char16_t(base::kLowerHexDigits[data[i] >> 4]));
    Put(char16_t(base::kLowerHexDigits[data[i] & 15]));
    if (i + 1 == data.size()) break;
    Put(u',');
    lineLength += 3;
    if (lineLength >= kHexWrapColumn) {
      PutAscii("\\\r\n");
      for (std::size_t k = 0; k < kHexIndent; ++k) Put(u' ');
      lineLength = kHexIndent;
    }
  }
}

std::string RegWriter::Finish() {
  PutAscii("\r\n");
  std::string out = std::move(out_);
  out_.clear();
  return out;
}

}  // namespace corvane::regfile
