// Windows-1252 from Unicode: the reverse of the table in the header.
#include "base/Windows1252.h"

namespace corvane::base {

int UnicodeToWindows1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i) {
    if (kWindows1252High[i] == c) return 0x80 + i;
  }
  return -1;
}

}  // namespace corvane::base
