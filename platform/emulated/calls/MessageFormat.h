// FormatMessage's formatting, shared by its ANSI and wide forms: a message
// text with its inserts (%1 to %99, each with an optional !printf format!)
// expanded, its escapes (%0, %n, %r, %t, %%, %., %!, ...) applied and its
// lines fitted to the width the flags ask for. The text is worked on in
// wchar_t units; the ANSI form converts on the way in and out.
#pragma once

#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace corvane::platform::emulated {

// The values inserts take, numbered from 1, one DWORD_PTR slot each: the
// caller's va_list read in order as far as an insert asks (it is left
// advanced, as Windows leaves it), or the caller's array
// (FORMAT_MESSAGE_ARGUMENT_ARRAY), or none at all.
class InsertValues {
 public:
  InsertValues() = default;
  explicit InsertValues(va_list* list) : list_(list) {}
  explicit InsertValues(const DWORD_PTR* array) : array_(array) {}
  InsertValues(const InsertValues&) = delete;
  InsertValues& operator=(const InsertValues&) = delete;

  // Slot `number` (1 or more), or nothing when no values were given.
  std::optional<DWORD_PTR> Slot(unsigned number);

 private:
  va_list* list_ = nullptr;
  const DWORD_PTR* array_ = nullptr;
  std::vector<DWORD_PTR> read_;
};

struct MessageLayout {
  // FORMAT_MESSAGE_IGNORE_INSERTS: %1... are copied as they are written.
  bool ignoreInserts = false;
  // The low byte of the flags: 0 keeps the text's own line breaks; 1 to 254
  // is the longest line, the text's line breaks becoming spaces and lines
  // breaking between words; 0xFF is no line breaks but %n's.
  DWORD maxWidth = 0;
  // Whether !s! takes a wide string (FormatMessageW) or an ANSI one.
  bool wideCaller = true;
};

// The message `text` formatted into `out`: 0, or ERROR_INVALID_PARAMETER for
// an insert without values, with a format it does not know (floating point
// among them, as on Windows) or one wider than a message can be.
LONG FormatMessageText(std::wstring_view text, InsertValues& values,
                       const MessageLayout& layout, std::wstring& out);

}  // namespace corvane::platform::emulated
