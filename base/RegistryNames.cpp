// Registry name folding and ordering (RegistryNames.h).
#include "base/RegistryNames.h"

#include <algorithm>

namespace corvane::base {

char16_t FoldBeyondAscii(char16_t c) {
  if (c < 0x100) {
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;  // ÿ → Ÿ
    return c;                     // ß and µ have no single uppercase form
  }
  if (c < 0x180) {
    // Latin Extended-A pairs its letters, upper first; the runs where the
    // lowercase letter comes first start at 0x139 and 0x179. Dotless i, kra
    // and ŉ keep their own form, as in Windows' table.
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    const bool oddIsLower = (c < 0x138) || (c >= 0x14A && c < 0x178);
    if (oddIsLower) return (c & 1) ? c - 1 : c;
    if (c >= 0x139 && c <= 0x148) return (c & 1) ? c : c - 1;
    if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c : c - 1;
    return c;
  }
  if (c == 0x192) return 0x191;  // ƒ, which Windows-1252 carries
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 0x20;  // Greek
  if (c == 0x3C2) return 0x3A3;                                 // final ς
  if (c >= 0x3AC && c <= 0x3AF) {                               // tonos
    static constexpr char16_t kTonos[] = {0x386, 0x388, 0x389, 0x38A};
    return kTonos[c - 0x3AC];
  }
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0x460 && c <= 0x481) return (c & 1) ? c - 1 : c;
  if (c >= 0x48A && c <= 0x4BF) return (c & 1) ? c - 1 : c;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;  // fullwidth
  return c;
}

std::u16string FoldName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = FoldChar(c);
  return folded;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const char16_t x = FoldChar(a[i]), y = FoldChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace corvane::base
