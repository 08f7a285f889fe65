// ASCII case folding for the command language.
#include "cli/TextCodec.h"

namespace corvane::cli {

std::wstring AsciiUpper(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return out;
}

}  // namespace corvane::cli
