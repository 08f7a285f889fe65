// The facts of regedit's .reg format in one place: what the reader accepts
// and the writer produces are both spelled from here.
//
//   file    := header line, then lines of any of:
//   key     := "[" path "]"            create (or open) the key
//            | "[-" path "]"           delete the key and its subtree
//   value   := name "=" data           name: "@" (the default) | quoted
//            | name "=-"               delete the value
//   data    := quoted                  REG_SZ
//            | "dword:" 1-8 hex digits REG_DWORD (blanks may come first)
//            | "hex:" bytes            REG_BINARY
//            | "hex(" N "):" bytes     type N (hex), raw bytes
//   bytes   := hex bytes of one or two digits separated by ",", blanks
//              around each; a line ending in "\" (then perhaps a comment)
//              goes on at the next, as if the two were one line
//   ";" or "#" starts a comment line, and ";" a comment after data. Inside a
//   continued value, comment lines in the first column are passed over;
//   a blank line, an indented comment or a lone "\" there is refused, as
//   Windows would end the value early or drop it. Quoted text escapes "\\"
//   and "\"" (and "\r", "\n" when read; "\0", which Windows drops the value
//   for, is refused). Non-empty hex(1), hex(2) and hex(7) data gains the NUL it
//   lacks when read, as Windows imports it; the writer writes data exactly.
//   A Version 5.00 file is UTF-16LE with a byte-order mark when written; an
//   8-bit file (REGEDIT4, or 5.00 without the mark) is Windows-1252, and the
//   bytes of its hex(1), hex(2) and hex(7) values are too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/ValueTypes.h"

namespace corvane::regfile {

inline constexpr std::string_view kHeaderVersion5 =
    "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kHeaderRegedit4 = "REGEDIT4";

// Any first line beginning with "REGEDIT" is read as "REGEDIT4" is, save
// "REGEDIT" alone, which heads a Windows 3.1 file: lines of
// "HKEY_CLASSES_ROOT\path = text", each the default value of its key.
inline constexpr std::string_view kHeaderWin31 = "REGEDIT";
inline constexpr std::string_view kWin31Root = "HKEY_CLASSES_ROOT";

// The tags before value data, matched in any case when read.
inline constexpr std::string_view kDwordTag = "dword:";
inline constexpr std::string_view kBinaryTag = "hex:";
inline constexpr std::string_view kTypedHexTag = "hex(";  // then N, then "):"

// The types with a form of their own; any other type is written hex(N):.
inline constexpr std::uint32_t kQuotedType = base::kRegSz;
inline constexpr std::uint32_t kDwordType = base::kRegDword;
inline constexpr std::uint32_t kBinaryType = base::kRegBinary;

// At most this many hex digits after dword:, and in the N of hex(N).
inline constexpr int kMaxDwordDigits = 8;

// Hex bytes are broken with ",\" once a line reaches this column and go on
// after kHexIndent spaces, as regedit exports them.
inline constexpr std::size_t kHexWrapColumn = 77;
inline constexpr std::size_t kHexIndent = 2;

// The UTF-16LE byte-order mark a Version 5.00 file starts with.
inline constexpr std::uint8_t kUtf16Bom[2] = {0xFF, 0xFE};

}  // namespace corvane::regfile
