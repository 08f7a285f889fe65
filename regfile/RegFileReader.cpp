// The .reg reader: one pass over the text with no per-character allocation.
// Names without escapes are handed to the sink as views into the file, and the
// buffers for escaped names and value data are reused from line to line. Files
// of 100k keys load at several hundred MB/s.
#include <bit>
#include <cstring>
#include <vector>

#include "base/HexDigits.h"
#include "base/Windows1252.h"
#include "regfile/RegFile.h"
#include "regfile/RegFormat.h"

namespace corvane::regfile {
namespace {

inline char16_t Widen(std::uint8_t c) { return base::Windows1252ToUnicode(c); }
inline char16_t Widen(char16_t c) { return c; }

using base::HexDigitValue;
using base::kNotHex;

template <typename C>
class Parser {
 public:
  Parser(const C* begin, const C* end, std::string_view fileName,
         bool ansiHeader, HexStrings strings, RegSink& sink)
      : p_(begin),
        end_(end),
        file_(fileName),
        sink_(sink),
        ansiFile_(sizeof(C) == 1),
        ansiHeader_(ansiHeader),
        terminate_(strings == HexStrings::kTerminated) {}

  // Expects the header line already consumed (without its line end); parses
  // to the end.
  std::string Run() {
    while (p_ < end_) {
      SkipBlanks();
      if (p_ == end_) break;
      const C c = *p_;
      std::string err;
      if (c == '\r' || c == '\n') {
        NextLine();
        continue;
      } else if (c == ';' || c == '#') {
        SkipToEol();
        continue;
      } else if (c == '[') {
        err = KeyLine();
      } else if (c == '@' || c == '"') {
        err = ValueLine();
      } else {
        err = "expected '[key]', a value or a comment";
      }
      if (!err.empty()) return Fail(err);
    }
    return {};
  }

  // A Windows 3.1 file: each line "HKEY_CLASSES_ROOT\path = text" sets the
  // default value of the key to the text, taken as it stands (no quotes, no
  // escapes, no comments); the key ends at the first blank and the "=", with
  // one space after it, may be left out.
  std::string Win31Run() {
    while (p_ < end_) {
      const C* const start = p_;
      SkipBlanks();
      if (AtEol() || *p_ == ';' || *p_ == '#') {
        SkipToEol();
        NextLine();
        continue;
      }
      p_ = start;
      if (!Exact(kWin31Root)) {
        return Fail("expected a line beginning with 'HKEY_CLASSES_ROOT'");
      }
      while (p_ < end_ && !AtEol() && *p_ != ' ' && *p_ != '\t') ++p_;
      std::string err = sink_.OnKey(Text(start, p_));
      if (err.empty()) {
        SkipBlanks();
        if (p_ < end_ && *p_ == '=') {
          ++p_;
          if (p_ < end_ && *p_ == ' ') ++p_;
        }
        const C* const text = p_;
        SkipToEol();
        err = sink_.OnValue({}, kQuotedType, Terminated(Text(text, p_)));
      }
      if (!err.empty()) return Fail(err);
      NextLine();
    }
    return {};
  }

  std::string Fail(std::string_view what) const {
    std::string s(file_);
    s += ':';
    s += std::to_string(line_);
    s += ": ";
    s += what;
    return s;
  }

 private:
  bool AtEol() const { return p_ == end_ || *p_ == '\r' || *p_ == '\n'; }
  void SkipBlanks() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t')) ++p_;
  }
  void SkipToEol() {
    while (p_ < end_ && *p_ != '\r' && *p_ != '\n') ++p_;
  }
  // Consumes one line end (CRLF, LF or a lone CR) if there is one.
  void NextLine() {
    if (p_ == end_) return;
    if (*p_ == '\r') {
      ++p_;
      if (p_ < end_ && *p_ == '\n') ++p_;
    } else if (*p_ == '\n') {
      ++p_;
    } else {
      return;
    }
    ++line_;
  }
  // The rest of a line after its data: blanks, then a comment or nothing.
  bool RestIsEmpty() {
    SkipBlanks();
    if (p_ < end_ && *p_ == ';') SkipToEol();
    return AtEol();
  }

  std::u16string_view Text(const C* b, const C* e) {
    if constexpr (sizeof(C) == 2) {
      return {b, std::size_t(e - b)};
    } else {
      text_.clear();
      for (; b < e; ++b) text_.push_back(Widen(*b));
      return text_;
    }
  }

  std::string KeyLine() {
    const std::size_t line = line_;
    ++p_;  // '['
    const bool del = p_ < end_ && *p_ == '-';
    if (del) ++p_;
    const C* start = p_;
    SkipToEol();
    const C* close = p_;
    while (close > start && close[-1] != ']') --close;
    if (close == start) return "missing ']' after the key name";
    --close;
    for (const C* q = close + 1; q < p_; ++q) {
      if (*q != ' ' && *q != '\t') return "unexpected text after ']'";
    }
    if (close == start) return "empty key name";
    const auto path = Text(start, close);
    std::string err = del ? sink_.OnDeleteKey(path) : sink_.OnKey(path);
    inKey_ = !del;
    if (!err.empty()) line_ = line;
    return err;
  }

  // Reads a quoted string whose opening quote is at p_ and leaves p_ after
  // the closing quote; answers "" or what is wrong. The result is a view into
  // the file when there are no escapes, else into `buf`. Windows drops a
  // value whose name or text holds "\0", so it is no escape here.
  std::string_view Quoted(std::u16string& buf, std::u16string_view& out) {
    ++p_;
    const C* start = p_;
    while (p_ < end_ && *p_ != '"' && *p_ != '\\' && *p_ != '\r' &&
           *p_ != '\n') {
      ++p_;
    }
    if (p_ < end_ && *p_ == '"' && sizeof(C) == 2) {
      out = Text(start, p_);
      ++p_;
      return {};
    }
    buf.clear();
    for (const C* q = start; q < p_; ++q) buf.push_back(Widen(*q));
    while (p_ < end_) {
      const C c = *p_;
      if (c == '"') {
        ++p_;
        out = buf;
        return {};
      }
      if (c == '\r' || c == '\n') break;
      if (c == '\\' && p_ + 1 < end_) {
        const C e = p_[1];
        if (e == '\r' || e == '\n') break;
        if (e == '0') return "'\\0' in a quoted string";
        p_ += 2;
        buf.push_back(e == 'n' ? u'\n' : e == 'r' ? u'\r' : Widen(e));
        continue;
      }
      buf.push_back(Widen(c));
      ++p_;
    }
    return "missing '\"' at the end of the quoted string";
  }

  // Case-sensitive match of ASCII text at p_; consumes it on success.
  bool Exact(std::string_view text) {
    if (std::size_t(end_ - p_) < text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (unsigned(p_[i]) != unsigned(std::uint8_t(text[i]))) return false;
    }
    p_ += text.size();
    return true;
  }

  // Case-insensitive match of an ASCII keyword at p_; consumes it on success.
  bool Keyword(std::string_view kw) {
    if (std::size_t(end_ - p_) < kw.size()) return false;
    for (std::size_t i = 0; i < kw.size(); ++i) {
      unsigned c = unsigned(p_[i]);
      if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
      if (c != unsigned(kw[i])) return false;
    }
    p_ += kw.size();
    return true;
  }

  std::string ValueLine() {
    const std::size_t line = line_;
    std::u16string_view name;
    if (*p_ == '@') {
      ++p_;
    } else if (const std::string_view err = Quoted(nameBuffer_, name);
               !err.empty()) {
      return std::string(err);
    }
    SkipBlanks();
    if (p_ == end_ || *p_ != '=') return "expected '=' after the value name";
    ++p_;
    SkipBlanks();
    if (!inKey_) return "value outside a key";

    std::string err;
    if (p_ < end_ && *p_ == '-') {
      ++p_;
      if (!RestIsEmpty()) return "unexpected text after '-'";
      err = sink_.OnDeleteValue(name);
    } else if (p_ < end_ && *p_ == '"') {
      std::u16string_view text;
      if (const std::string_view bad = Quoted(stringBuffer_, text);
          !bad.empty()) {
        return std::string(bad);
      }
      if (!RestIsEmpty()) return "unexpected text after the string";
      err = sink_.OnValue(name, kQuotedType, Terminated(text));
    } else if (Keyword(kDwordTag)) {
      SkipBlanks();
      std::uint32_t v = 0;
      int digits = 0;
      for (unsigned h; p_ < end_ && (h = HexDigitValue(*p_)) != kNotHex; ++p_) {
        if (++digits > kMaxDwordDigits) {
          return "more than 8 hex digits after 'dword:'";
        }
        v = (v << 4) | h;
      }
      if (digits == 0) return "expected hex digits after 'dword:'";
      if (!RestIsEmpty()) return "unexpected text after the dword";
      const std::uint8_t bytes[4] = {std::uint8_t(v), std::uint8_t(v >> 8),
                                     std::uint8_t(v >> 16),
                                     std::uint8_t(v >> 24)};
      err = sink_.OnValue(name, kDwordType, bytes);
    } else {
      std::uint32_t type = kBinaryType;
      if (Keyword(kTypedHexTag)) {
        type = 0;
        int digits = 0;
        for (unsigned h; p_ < end_ && (h = HexDigitValue(*p_)) != kNotHex;
             ++p_) {
          if (++digits > kMaxDwordDigits) {
            return "type number in 'hex(...)' too large";
          }
          type = (type << 4) | h;
        }
        if (digits == 0 || p_ == end_ || *p_ != ')') {
          return "expected a hex type number and ')' after 'hex('";
        }
        ++p_;
        if (p_ == end_ || *p_ != ':') return "expected ':' after 'hex(...)'";
        ++p_;
      } else if (!Keyword(kBinaryTag)) {
        return "unknown value data (expected '\"', 'dword:', 'hex:' or "
               "'hex(N):')";
      }
      err = HexBytes();
      if (!err.empty()) return err;
      std::span<const std::uint8_t> data = data_;
      if ((ansiFile_ || ansiHeader_) && base::IsStringType(type)) {
        // An 8-bit file carries string bytes in the ANSI code page.
        wide_.resize(data_.size() * 2);
        for (std::size_t i = 0; i < data_.size(); ++i) {
          const char16_t u = Widen(data_[i]);
          wide_[2 * i] = std::uint8_t(u);
          wide_[2 * i + 1] = std::uint8_t(u >> 8);
        }
        data = wide_;
      }
      if (terminate_ && base::IsStringType(type)) data = WithTerminator(data);
      err = sink_.OnValue(name, type, data);
    }
    if (!err.empty()) line_ = line;
    return err;
  }

  // Comma-separated bytes, blanks allowed around each. A "\" (a comment may
  // follow it) goes on at the next line, as if the lines were one: after a
  // byte without its comma, that line must begin with the comma.
  std::string HexBytes() {
    data_.clear();
    bool afterByte = false;  // a byte read, its ',' not yet
    for (;;) {
      SkipBlanks();
      if (AtEol() || *p_ == ';') {
        SkipToEol();
        return {};
      }
      if (*p_ == '\\') {
        ++p_;
        if (!RestIsEmpty()) return "unexpected text after '\\'";
        if (p_ == end_) return {};
        NextLine();
        if (std::string err = Continuation(); !err.empty()) return err;
        continue;
      }
      if (*p_ == ',') {
        if (!afterByte) return "expected a hex byte";
        afterByte = false;
        ++p_;
        continue;
      }
      if (afterByte) return "expected ',' between hex bytes";
      unsigned byte = HexDigitValue(*p_);
      if (byte == kNotHex) return "expected a hex byte";
      ++p_;
      if (p_ < end_) {
        const unsigned lo = HexDigitValue(*p_);
        if (lo != kNotHex) {
          byte = (byte << 4) | lo;
          ++p_;
        }
      }
      data_.push_back(std::uint8_t(byte));
      afterByte = true;
    }
  }

  // Where a continued value goes on: past comment lines that begin in the
  // first column, as Windows reads them. A blank line, an indented comment
  // or a lone "\" is where Windows ends the value early or drops it, so it
  // is no place to go on for a reader that must keep all of it.
  std::string Continuation() {
    for (;;) {
      if (p_ == end_) return {};
      if (*p_ == ';') {
        SkipToEol();
        NextLine();
        continue;
      }
      SkipBlanks();
      if (AtEol()) return "a blank line inside a continued value";
      if (*p_ == ';' || *p_ == '#') {
        return "a comment line inside a continued value";
      }
      if (*p_ == '\\') {
        ++p_;
        if (RestIsEmpty()) return "a lone '\\' inside a continued value";
        return "expected a hex byte";
      }
      return {};
    }
  }

  // String data as the registry keeps it: UTF-16LE, ending in a NUL.
  std::span<const std::uint8_t> Terminated(std::u16string_view text) {
    data_.resize((text.size() + 1) * 2);
    std::uint8_t* d = data_.data();
    for (char16_t u : text) {
      *d++ = std::uint8_t(u);
      *d++ = std::uint8_t(u >> 8);
    }
    d[0] = d[1] = 0;
    return data_;
  }

  // Non-empty string data given in hex gains the NUL it lacks, as Windows
  // imports it; empty data stays empty.
  std::span<const std::uint8_t> WithTerminator(
      std::span<const std::uint8_t> data) {
    const std::size_t n = data.size();
    if (n == 0 || (n >= 2 && data[n - 1] == 0 && data[n - 2] == 0)) {
      return data;
    }
    terminated_.assign(data.begin(), data.end());
    terminated_.push_back(0);
    terminated_.push_back(0);
    return terminated_;
  }

  const C* p_;
  const C* end_;
  std::string_view file_;
  RegSink& sink_;
  const bool ansiFile_;
  const bool ansiHeader_;
  const bool terminate_;
  std::size_t line_ = 1;
  bool inKey_ = false;
  std::u16string text_, nameBuffer_, stringBuffer_;
  std::vector<std::uint8_t> data_, wide_, terminated_;
};

enum class Header { kNone, kVersion5, kRegedit4, kWin31 };

// Reads the header, which must be the first line (blanks may come before
// it), and leaves `p` after it.
template <typename C>
Header ReadHeader(const C*& p, const C* end) {
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  const C* e = p;
  while (e < end && *e != '\r' && *e != '\n') ++e;
  auto starts = [&](const C* stop, std::string_view h) {
    if (std::size_t(stop - p) < h.size()) return false;
    for (std::size_t i = 0; i < h.size(); ++i) {
      if (unsigned(p[i]) != unsigned(std::uint8_t(h[i]))) return false;
    }
    return true;
  };
  const C* t = e;
  while (t > p && (t[-1] == ' ' || t[-1] == '\t')) --t;
  Header header = Header::kNone;
  if (t - p == std::ptrdiff_t(kHeaderVersion5.size()) &&
      starts(t, kHeaderVersion5)) {
    header = Header::kVersion5;
  } else if (e - p == std::ptrdiff_t(kHeaderWin31.size()) &&
             starts(e, kHeaderWin31)) {
    header = Header::kWin31;
  } else if (starts(e, kHeaderWin31)) {
    header = Header::kRegedit4;
  }
  if (header != Header::kNone) p = e;
  return header;
}

template <typename C>
std::string Parse(const C* begin, const C* end, std::string_view fileName,
                  HexStrings strings, RegSink& sink) {
  const Header header = ReadHeader(begin, end);
  if (header == Header::kNone) {
    return std::string(fileName) +
           ":1: not a registry file (the first line must be 'Windows "
           "Registry Editor Version 5.00' or begin with 'REGEDIT')";
  }
  Parser<C> parser(begin, end, fileName, header == Header::kRegedit4, strings,
                   sink);
  return header == Header::kWin31 ? parser.Win31Run() : parser.Run();
}

}  // namespace

std::string ReadRegFile(std::span<const std::uint8_t> bytes,
                        std::string_view fileName, RegSink& sink,
                        HexStrings strings) {
  if (bytes.size() >= 2 && bytes[0] == kUtf16Bom[0] &&
      bytes[1] == kUtf16Bom[1]) {
    const std::size_t n = (bytes.size() - 2) / 2;
    std::u16string text(n, u'\0');
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(text.data(), bytes.data() + 2, n * 2);
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        text[i] = char16_t(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
      }
    }
    std::string err =
        Parse(text.data(), text.data() + n, fileName, strings, sink);
    if (err.empty() && bytes.size() % 2 != 0) {
      std::size_t lines = 1;
      for (char16_t c : text) lines += c == u'\n';
      err = std::string(fileName) + ':' + std::to_string(lines) +
            ": the file ends in the middle of a UTF-16 character";
    }
    return err;
  }
  return Parse(bytes.data(), bytes.data() + bytes.size(), fileName, strings,
               sink);
}

}  // namespace corvane::regfile
