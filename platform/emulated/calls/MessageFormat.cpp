// FormatMessage's formatting: escapes, inserts and line width, as Microsoft
// documents them for FormatMessage.
#include "platform/emulated/calls/MessageFormat.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

namespace corvane::platform::emulated {
namespace {

// No insert is wider than a whole message may be.
constexpr int kMaxInsertWidth = 64 * 1024;

// The output, broken into lines no longer than a width when one is set.
class Lines {
 public:
  explicit Lines(DWORD width) : width_(width == 0xFF ? 0 : width) {}

  // A character that counts toward the line's width.
  void Text(wchar_t c) {
    out_ += c;
    if (width_ != 0 && out_.size() - lineStart_ >= width_) Wrap();
  }
  void Text(std::wstring_view text) {
    for (const wchar_t c : text) Text(c);
  }
  // A character placed as it is: a bare carriage return (%r).
  void Raw(wchar_t c) { out_ += c; }
  void HardBreak() {
    out_ += L"\r\n";
    lineStart_ = out_.size();
  }
  std::wstring Take() { return std::move(out_); }

 private:
  // The line has reached the width: it breaks at its last space, which the
  // break replaces, or, in a word as long as the line, right after it (even
  // at the end of the text), as Windows breaks them.
  void Wrap() {
    const std::size_t space = out_.find_last_of(L' ', out_.size() - 1);
    if (space != std::wstring::npos && space > lineStart_) {
      out_.replace(space, 1, L"\r\n");
      lineStart_ = space + 2;
    } else {
      HardBreak();
    }
  }

  DWORD width_;
  std::wstring out_;
  std::size_t lineStart_ = 0;
};

// An insert's !format!, printf's syntax with Windows' size prefixes.
struct Directive {
  enum class Size { kDefault, kShort, kLong, kWide, kLong64 };
  std::string flags;
  bool widthStar = false;
  int width = -1;
  bool precisionStar = false;
  int precision = -1;
  Size size = Size::kDefault;
  wchar_t conversion = L's';
};

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Digits at `i`, or -1 when there are none or they run past the limit.
int ReadNumber(std::wstring_view directive, std::size_t& i) {
  if (i >= directive.size() || !IsDigit(directive[i])) return -1;
  int value = 0;
  while (i < directive.size() && IsDigit(directive[i])) {
    value = value * 10 + (directive[i++] - L'0');
    if (value > kMaxInsertWidth) return -1;
  }
  return value;
}

bool ParseSize(std::wstring_view directive, std::size_t& i,
               Directive::Size& size) {
  const auto takes = [&](std::wstring_view prefix) {
    if (directive.substr(i, prefix.size()) != prefix) return false;
    i += prefix.size();
    return true;
  };
  if (takes(L"I32")) {
    size = Directive::Size::kLong;
  } else if (takes(L"I64") || takes(L"ll") || takes(L"I") || takes(L"z") ||
             takes(L"j") || takes(L"t")) {
    size = Directive::Size::kLong64;
  } else if (takes(L"l")) {
    size = Directive::Size::kLong;
  } else if (takes(L"w")) {
    size = Directive::Size::kWide;
  } else if (takes(L"hh") || takes(L"h")) {
    size = Directive::Size::kShort;
  }
  return true;
}

std::optional<Directive> ParseDirective(std::wstring_view text) {
  Directive directive;
  std::size_t i = 0;
  while (i < text.size() &&
         std::wstring_view(L"-+ #0").find(text[i]) != std::wstring_view::npos) {
    directive.flags += static_cast<char>(text[i++]);
  }
  if (i < text.size() && text[i] == L'*') {
    directive.widthStar = true;
    ++i;
  } else if (i < text.size() && IsDigit(text[i])) {
    if ((directive.width = ReadNumber(text, i)) < 0) return std::nullopt;
  }
  if (i < text.size() && text[i] == L'.') {
    ++i;
    if (i < text.size() && text[i] == L'*') {
      directive.precisionStar = true;
      ++i;
    } else {
      const bool digits = i < text.size() && IsDigit(text[i]);
      directive.precision = digits ? ReadNumber(text, i) : 0;
      if (directive.precision < 0) return std::nullopt;
    }
  }
  ParseSize(text, i, directive.size);
  if (i + 1 != text.size()) return std::nullopt;
  directive.conversion = text[i];
  return directive;
}

// Pads `text` to the directive's width: on the left, or on the right with '-'.
std::wstring Padded(std::wstring text, const Directive& directive) {
  if (directive.width > 0 &&
      text.size() < static_cast<std::size_t>(directive.width)) {
    const std::size_t fill =
        static_cast<std::size_t>(directive.width) - text.size();
    if (directive.flags.find('-') != std::string::npos) {
      text.append(fill, L' ');
    } else {
      text.insert(0, fill, L' ');
    }
  }
  return text;
}

// Whether a string or character conversion takes the wide form: the
// caller's own for s and c, the other for S and C; h and l/w force it.
bool TakesWide(const Directive& directive, bool wideCaller) {
  if (directive.size == Directive::Size::kShort) return false;
  if (directive.size == Directive::Size::kLong ||
      directive.size == Directive::Size::kWide) {
    return true;
  }
  const bool upper =
      directive.conversion == L'S' || directive.conversion == L'C';
  return wideCaller != upper;
}

std::wstring StringInsert(DWORD_PTR value, const Directive& directive,
                          bool wide) {
  std::wstring text;
  if (value == 0) {
    text = L"(null)";
  } else if (wide) {
    text = reinterpret_cast<const wchar_t*>(value);
  } else {
    text = AnsiToWide(reinterpret_cast<const char*>(value));
  }
  if (directive.precision >= 0 &&
      text.size() > static_cast<std::size_t>(directive.precision)) {
    text.resize(static_cast<std::size_t>(directive.precision));
  }
  return Padded(std::move(text), directive);
}

std::wstring CharacterInsert(DWORD_PTR value, const Directive& directive,
                             bool wide) {
  std::wstring text;
  if (wide) {
    text.assign(1, static_cast<wchar_t>(static_cast<std::uint16_t>(value)));
  } else {
    text = AnsiToWide(std::string(1, static_cast<char>(value)));
  }
  return Padded(std::move(text), directive);
}

// Integers through the C library's printf, at the width the size prefix
// gives: 32 bits unless I64, ll or I (pointer width) say otherwise.
std::wstring IntegerInsert(DWORD_PTR value, const Directive& directive) {
  const bool isSigned =
      directive.conversion == L'd' || directive.conversion == L'i';
  // Each branch converts on its own: a conditional would bring the signed
  // and unsigned forms to one type.
  long long number = static_cast<long long>(value);
  if (directive.size == Directive::Size::kShort) {
    if (isSigned) {
      number = static_cast<std::int16_t>(value);
    } else {
      number = static_cast<std::uint16_t>(value);
    }
  } else if (directive.size != Directive::Size::kLong64) {
    if (isSigned) {
      number = static_cast<std::int32_t>(value);
    } else {
      number = static_cast<std::uint32_t>(value);
    }
  }
  std::string format = "%";
  format += directive.flags;
  if (directive.width >= 0) format += std::to_string(directive.width);
  if (directive.precision >= 0) {
    format += '.';
    format += std::to_string(directive.precision);
  }
  format += "ll";
  format += static_cast<char>(directive.conversion);
  const int length = std::snprintf(nullptr, 0, format.c_str(), number);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format.c_str(), number);
  text.pop_back();
  return std::wstring(text.begin(), text.end());
}

std::wstring PointerInsert(DWORD_PTR value, const Directive& directive) {
  wchar_t digits[2 * sizeof value + 1];
  std::swprintf(digits, sizeof digits / sizeof digits[0], L"%0*llX",
                static_cast<int>(2 * sizeof value),
                static_cast<unsigned long long>(value));
  return Padded(digits, directive);
}

// The width or precision a '*' asks for, from the next slot.
bool StarValue(InsertValues& values, unsigned& slot, Directive& directive,
               int& target) {
  const std::optional<DWORD_PTR> value = values.Slot(slot++);
  if (!value) return false;
  // A negative width left-justifies; a negative precision is none.
  long long number = static_cast<std::int32_t>(*value);
  if (&target == &directive.width && number < 0) {
    directive.flags += '-';
    number = -number;
  }
  if (number > kMaxInsertWidth) return false;
  target = static_cast<int>(number);
  return true;
}

// Insert `number` with its directive: a '*' takes the slot after the insert's
// number, the value the slot after those.
LONG InsertText(unsigned number, std::wstring_view directiveText,
                InsertValues& values, bool wideCaller, std::wstring& text) {
  std::optional<Directive> directive = ParseDirective(directiveText);
  if (!directive) return ERROR_INVALID_PARAMETER;
  unsigned slot = number;
  if (directive->widthStar &&
      !StarValue(values, slot, *directive, directive->width)) {
    return ERROR_INVALID_PARAMETER;
  }
  if (directive->precisionStar &&
      !StarValue(values, slot, *directive, directive->precision)) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::optional<DWORD_PTR> value = values.Slot(slot);
  if (!value) return ERROR_INVALID_PARAMETER;
  switch (directive->conversion) {
    case L's':
    case L'S':
      text =
          StringInsert(*value, *directive, TakesWide(*directive, wideCaller));
      return ERROR_SUCCESS;
    case L'c':
    case L'C':
      text = CharacterInsert(*value, *directive,
                             TakesWide(*directive, wideCaller));
      return ERROR_SUCCESS;
    case L'd':
    case L'i':
    case L'u':
    case L'x':
    case L'X':
    case L'o':
      text = IntegerInsert(*value, *directive);
      return ERROR_SUCCESS;
    case L'p':
      text = PointerInsert(*value, *directive);
      return ERROR_SUCCESS;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

// The insert at text[i] == '%' followed by a digit 1-9: its number (one or
// two digits) and its directive between '!'s, "s" when it has none. `i` moves
// past it. Returns false for a directive with no closing '!'.
bool ReadInsert(std::wstring_view text, std::size_t& i, unsigned& number,
                std::wstring_view& directive) {
  ++i;
  number = static_cast<unsigned>(text[i++] - L'0');
  if (i < text.size() && IsDigit(text[i])) {
    number = number * 10 + static_cast<unsigned>(text[i++] - L'0');
  }
  directive = L"s";
  if (i < text.size() && text[i] == L'!') {
    const std::size_t close = text.find(L'!', i + 1);
    if (close == std::wstring_view::npos) return false;
    directive = text.substr(i + 1, close - i - 1);
    i = close + 1;
  }
  return true;
}

}  // namespace

std::optional<DWORD_PTR> InsertValues::Slot(unsigned number) {
  if (number == 0) return std::nullopt;
  if (array_ != nullptr) return array_[number - 1];
  if (list_ == nullptr) return std::nullopt;
  while (read_.size() < number) read_.push_back(va_arg(*list_, DWORD_PTR));
  return read_[number - 1];
}

LONG FormatMessageText(std::wstring_view text, InsertValues& values,
                       const MessageLayout& layout, std::wstring& out) {
  Lines lines(layout.maxWidth);
  std::size_t i = 0;
  while (i < text.size()) {
    const wchar_t c = text[i];
    if (c == L'\r' || c == L'\n') {
      // The text's own line break: CR, LF or CR LF.
      i += (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ? 2 : 1;
      if (layout.maxWidth == 0) {
        lines.HardBreak();
      } else {
        lines.Text(L' ');
      }
      continue;
    }
    if (c != L'%' || i + 1 >= text.size()) {
      lines.Text(c);
      ++i;
      continue;
    }
    const wchar_t next = text[i + 1];
    if (next >= L'1' && next <= L'9') {
      if (layout.ignoreInserts) {
        lines.Text(c);
        ++i;
        continue;
      }
      unsigned number = 0;
      std::wstring_view directive;
      if (!ReadInsert(text, i, number, directive))
        return ERROR_INVALID_PARAMETER;
      std::wstring insert;
      const LONG status =
          InsertText(number, directive, values, layout.wideCaller, insert);
      if (status != ERROR_SUCCESS) return status;
      lines.Text(insert);
      continue;
    }
    i += 2;
    switch (next) {
      case L'0':
        out = lines.Take();
        return ERROR_SUCCESS;
      case L'n':
        lines.HardBreak();
        break;
      case L'r':
        lines.Raw(L'\r');
        break;
      case L't':
        lines.Text(L'\t');
        break;
      default:  // %%, %., %!, "% " and any other: the character itself
        lines.Text(next);
        break;
    }
  }
  out = lines.Take();
  return ERROR_SUCCESS;
}

}  // namespace corvane::platform::emulated
