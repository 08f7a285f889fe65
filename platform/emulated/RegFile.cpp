// The .reg reader and writer. The reader is one pass over the text with no
// per-character allocation: names without escapes are handed to the sink as
// views into the file, and the buffers for escaped names and value data are
// reused from line to line. Hives of 100k keys load at several hundred MB/s.
#include "platform/emulated/RegFile.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

namespace corvane::platform::emulated {
namespace {

// Windows-1252 bytes 0x80-0x9F; the five holes map to the same code point,
// as MultiByteToWideChar does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline char16_t Widen(std::uint8_t c) {
  return (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : char16_t(c);
}
inline char16_t Widen(char16_t c) { return c; }

// 0-15 for a hex digit, 0xFF for anything else.
constexpr auto kHexValue = [] {
  struct Table {
    std::uint8_t v[128];
  } t{};
  for (auto& x : t.v) x = 0xFF;
  for (int i = 0; i < 10; ++i) t.v['0' + i] = std::uint8_t(i);
  for (int i = 0; i < 6; ++i) {
    t.v['a' + i] = std::uint8_t(10 + i);
    t.v['A' + i] = std::uint8_t(10 + i);
  }
  return t;
}();

template <typename C>
inline unsigned HexDigit(C c) {
  return unsigned(c) < 128 ? kHexValue.v[unsigned(c)] : 0xFFu;
}

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

template <typename C>
class Parser {
 public:
  Parser(const C* begin, const C* end, std::string_view file_name,
         bool ansi_header, RegSink& sink)
      : p_(begin),
        end_(end),
        file_(file_name),
        sink_(sink),
        ansi_file_(sizeof(C) == 1),
        ansi_header_(ansi_header) {}

  // Expects the header already consumed; parses to the end.
  std::string Run() {
    while (p_ < end_) {
      SkipBlanks();
      if (p_ == end_) break;
      const C c = *p_;
      std::string err;
      if (c == '\r' || c == '\n') {
        NextLine();
        continue;
      } else if (c == ';') {
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

  std::string Fail(std::string_view what) const {
    std::string s(file_);
    s += ':';
    s += std::to_string(line_);
    s += ": ";
    s += what;
    return s;
  }

  std::size_t line_ = 1;

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
    in_key_ = !del;
    if (!err.empty()) line_ = line;
    return err;
  }

  // Reads a quoted string whose opening quote is at p_ and leaves p_ after
  // the closing quote. The result is a view into the file when there are no
  // escapes, else into `buf`.
  bool Quoted(std::u16string& buf, std::u16string_view& out) {
    ++p_;
    const C* start = p_;
    while (p_ < end_ && *p_ != '"' && *p_ != '\\' && *p_ != '\r' &&
           *p_ != '\n') {
      ++p_;
    }
    if (p_ < end_ && *p_ == '"' && sizeof(C) == 2) {
      out = Text(start, p_);
      ++p_;
      return true;
    }
    buf.clear();
    for (const C* q = start; q < p_; ++q) buf.push_back(Widen(*q));
    while (p_ < end_) {
      const C c = *p_;
      if (c == '"') {
        ++p_;
        out = buf;
        return true;
      }
      if (c == '\r' || c == '\n') break;
      if (c == '\\' && p_ + 1 < end_) {
        const C e = p_[1];
        if (e == '\r' || e == '\n') break;
        p_ += 2;
        buf.push_back(e == 'n' ? u'\n' : e == 'r' ? u'\r' : Widen(e));
        continue;
      }
      buf.push_back(Widen(c));
      ++p_;
    }
    return false;
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
    } else if (!Quoted(name_buf_, name)) {
      return "missing '\"' at the end of the value name";
    }
    SkipBlanks();
    if (p_ == end_ || *p_ != '=') return "expected '=' after the value name";
    ++p_;
    SkipBlanks();
    if (!in_key_) return "value outside a key";

    std::string err;
    if (p_ < end_ && *p_ == '-') {
      ++p_;
      if (!RestIsEmpty()) return "unexpected text after '-'";
      err = sink_.OnDeleteValue(name);
    } else if (p_ < end_ && *p_ == '"') {
      std::u16string_view text;
      if (!Quoted(str_buf_, text))
        return "missing '\"' at the end of the string";
      if (!RestIsEmpty()) return "unexpected text after the string";
      data_.resize((text.size() + 1) * 2);
      std::uint8_t* d = data_.data();
      for (char16_t u : text) {
        *d++ = std::uint8_t(u);
        *d++ = std::uint8_t(u >> 8);
      }
      d[0] = d[1] = 0;
      err = sink_.OnValue(name, 1, data_);
    } else if (Keyword("dword:")) {
      std::uint32_t v = 0;
      int digits = 0;
      for (unsigned h; p_ < end_ && (h = HexDigit(*p_)) != 0xFF; ++p_) {
        if (++digits > 8) return "more than 8 hex digits after 'dword:'";
        v = (v << 4) | h;
      }
      if (digits == 0) return "expected hex digits after 'dword:'";
      if (!RestIsEmpty()) return "unexpected text after the dword";
      const std::uint8_t bytes[4] = {std::uint8_t(v), std::uint8_t(v >> 8),
                                     std::uint8_t(v >> 16),
                                     std::uint8_t(v >> 24)};
      err = sink_.OnValue(name, 4, bytes);
    } else {
      std::uint32_t type = 3;
      if (Keyword("hex(")) {
        type = 0;
        int digits = 0;
        for (unsigned h; p_ < end_ && (h = HexDigit(*p_)) != 0xFF; ++p_) {
          if (++digits > 8) return "type number in 'hex(...)' too large";
          type = (type << 4) | h;
        }
        if (digits == 0 || p_ == end_ || *p_ != ')') {
          return "expected a hex type number and ')' after 'hex('";
        }
        ++p_;
        if (p_ == end_ || *p_ != ':') return "expected ':' after 'hex(...)'";
        ++p_;
      } else if (!Keyword("hex:")) {
        return "unknown value data (expected '\"', 'dword:', 'hex:' or "
               "'hex(N):')";
      }
      err = HexBytes();
      if (!err.empty()) return err;
      if ((ansi_file_ || ansi_header_) &&
          (type == 1 || type == 2 || type == 7)) {
        // An 8-bit file carries string bytes in the ANSI code page.
        wide_.resize(data_.size() * 2);
        for (std::size_t i = 0; i < data_.size(); ++i) {
          const char16_t u = Widen(data_[i]);
          wide_[2 * i] = std::uint8_t(u);
          wide_[2 * i + 1] = std::uint8_t(u >> 8);
        }
        err = sink_.OnValue(name, type, wide_);
      } else {
        err = sink_.OnValue(name, type, data_);
      }
    }
    if (!err.empty()) line_ = line;
    return err;
  }

  // Comma-separated bytes, continued over lines by a trailing backslash.
  std::string HexBytes() {
    data_.clear();
    for (;;) {
      SkipBlanks();
      if (p_ == end_ || *p_ == ';' || *p_ == '\r' || *p_ == '\n') {
        SkipToEol();
        return {};
      }
      if (*p_ == '\\') {
        ++p_;
        SkipBlanks();
        if (p_ == end_) return {};
        if (*p_ != '\r' && *p_ != '\n') return "unexpected text after '\\'";
        NextLine();
        continue;
      }
      unsigned hi = HexDigit(*p_);
      if (hi == 0xFF) return "expected a hex byte";
      ++p_;
      if (p_ < end_) {
        const unsigned lo = HexDigit(*p_);
        if (lo != 0xFF) {
          hi = (hi << 4) | lo;
          ++p_;
        }
      }
      data_.push_back(std::uint8_t(hi));
      SkipBlanks();
      if (p_ < end_ && *p_ == ',') {
        ++p_;
      } else if (!(AtEol() || *p_ == ';' || *p_ == '\\')) {
        return "expected ',' between hex bytes";
      }
    }
  }

  const C* p_;
  const C* end_;
  std::string_view file_;
  RegSink& sink_;
  const bool ansi_file_;
  const bool ansi_header_;
  bool in_key_ = false;
  std::u16string text_, name_buf_, str_buf_;
  std::vector<std::uint8_t> data_, wide_;
};

// Matches the header on the first non-blank line and leaves `p` after it.
template <typename C>
bool Header(const C*& p, const C* end, std::size_t& line, bool& regedit4) {
  for (;;) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p < end && (*p == '\r' || *p == '\n')) {
      if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
      ++p;
      ++line;
      continue;
    }
    break;
  }
  const C* e = p;
  while (e < end && *e != '\r' && *e != '\n') ++e;
  const C* t = e;
  while (t > p && (t[-1] == ' ' || t[-1] == '\t')) --t;
  auto is = [&](std::string_view h) {
    if (std::size_t(t - p) != h.size()) return false;
    for (std::size_t i = 0; i < h.size(); ++i) {
      if (unsigned(p[i]) != unsigned(std::uint8_t(h[i]))) return false;
    }
    return true;
  };
  if (is(kHeader5)) {
    regedit4 = false;
  } else if (is(kHeader4)) {
    regedit4 = true;
  } else {
    return false;
  }
  p = e;
  return true;
}

template <typename C>
std::string Parse(const C* begin, const C* end, std::string_view file_name,
                  RegSink& sink) {
  std::size_t line = 1;
  bool regedit4 = false;
  if (!Header(begin, end, line, regedit4)) {
    std::string s(file_name);
    s += ':' + std::to_string(line) +
         ": not a registry file (the first line must be 'Windows Registry "
         "Editor Version 5.00' or 'REGEDIT4')";
    return s;
  }
  Parser<C> parser(begin, end, file_name, regedit4, sink);
  parser.line_ = line;
  return parser.Run();
}

}  // namespace

std::string ReadRegFile(std::span<const std::uint8_t> bytes,
                        std::string_view file_name, RegSink& sink) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    const std::size_t n = (bytes.size() - 2) / 2;
    std::u16string text(n, u'\0');
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(text.data(), bytes.data() + 2, n * 2);
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        text[i] = char16_t(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
      }
    }
    std::string err = Parse(text.data(), text.data() + n, file_name, sink);
    if (err.empty() && bytes.size() % 2 != 0) {
      std::size_t lines = 1;
      for (char16_t c : text) lines += c == u'\n';
      err = std::string(file_name) + ':' + std::to_string(lines) +
            ": the file ends in the middle of a UTF-16 character";
    }
    return err;
  }
  return Parse(bytes.data(), bytes.data() + bytes.size(), file_name, sink);
}

RegWriter::RegWriter() {
  out_ = "\xFF\xFE";
  PutAscii(kHeader5);
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
  std::size_t line_len;
  if (name.empty()) {
    PutAscii("@=");
    line_len = 2;
  } else {
    Put(u'"');
    PutEscaped(name);
    PutAscii("\"=");
    line_len = EscapedLength(name) + 3;
  }
  char buf[24];
  if (type == 1 && QuotableString(data)) {
    Put(u'"');
    for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
      const char16_t c = char16_t(data[i] | (data[i + 1] << 8));
      if (c == u'\\' || c == u'"') Put(u'\\');
      Put(c);
    }
    Put(u'"');
  } else if (type == 4 && data.size() == 4) {
    const std::uint32_t v = std::uint32_t(data[0]) | (data[1] << 8) |
                            (data[2] << 16) | (std::uint32_t(data[3]) << 24);
    std::snprintf(buf, sizeof buf, "dword:%08x", unsigned(v));
    PutAscii(buf);
  } else {
    if (type == 3) {
      std::snprintf(buf, sizeof buf, "hex:");
    } else {
      std::snprintf(buf, sizeof buf, "hex(%x):", unsigned(type));
    }
    PutAscii(buf);
    PutHex(line_len + std::strlen(buf), data);
  }
  PutAscii("\r\n");
}

// Bytes as "xx," wrapped as regedit does: a line is broken with ",\" once it
// reaches 77 characters and goes on indented by two spaces.
void RegWriter::PutHex(std::size_t line_len,
                       std::span<const std::uint8_t> data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < data.size(); ++i) {
    Put(char16_t(kDigits[data[i] >> 4]));
    Put(char16_t(kDigits[data[i] & 15]));
    if (i + 1 == data.size()) break;
    Put(u',');
    line_len += 3;
    if (line_len >= 77) {
      PutAscii("\\\r\n  ");
      line_len = 2;
    }
  }
}

std::string RegWriter::Finish() {
  PutAscii("\r\n");
  std::string out = std::move(out_);
  out_.clear();
  return out;
}

}  // namespace corvane::platform::emulated
