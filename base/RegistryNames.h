// How the registry compares key and value names: case-insensitively, each
// character folded to uppercase the way Windows folds registry names (ASCII,
// Latin-1 and the common letters of Latin Extended-A, Greek, Cyrillic and
// fullwidth forms; never a folding that changes a name's length).
#pragma once

#include <string>
#include <string_view>

namespace corvane::base {

// The uppercase form a name is compared in; FoldName(a) == FoldName(b) when
// Windows takes a and b for the same name.
char16_t FoldBeyondAscii(char16_t c);
inline char16_t FoldChar(char16_t c) {
  // Most names are ASCII: that case stays inline.
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? c - 0x20 : c;
  return FoldBeyondAscii(c);
}
std::u16string FoldName(std::u16string_view name);
// Case-insensitive order of names: < 0, 0 or > 0.
int CompareNames(std::u16string_view a, std::u16string_view b);

}  // namespace corvane::base
