// The regedit .reg format, on its own: a reader that turns a file's bytes into
// calls on a sink, and a writer that builds a file the way regedit exports
// one. Neither knows about any registry: the emulation's store, the Windows
// build's import, corvane-reg and regfiletool each join them to theirs.
// The format's facts are in RegFormat.h.
//
// Names and string data cross this interface as UTF-16 code units exactly as
// the registry stores them (unpaired surrogates included); value data is the
// raw bytes of the value, so REG_SZ data is UTF-16LE with its terminator.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvane::regfile {

// What the reader found, line by line. Each call answers "" to go on, or
// what is wrong with the line; the reader then stops and reports it with the
// file name and line number. Values belong to the key of the last OnKey; the
// default value has the empty name.
class RegSink {
 public:
  virtual ~RegSink() = default;
  virtual std::string OnKey(std::u16string_view path) = 0;
  virtual std::string OnDeleteKey(std::u16string_view path) = 0;
  virtual std::string OnValue(std::u16string_view name, std::uint32_t type,
                              std::span<const std::uint8_t> data) = 0;
  virtual std::string OnDeleteValue(std::u16string_view name) = 0;
};

// How string data given in hex (hex(1), hex(2), hex(7)) is taken: as
// Windows' import takes it, a non-empty value without its NUL gaining one;
// or exactly as written, for a file that records a registry byte for byte
// (the emulation's old hive layout).
enum class HexStrings { kTerminated, kExact };

// Reads a "REGEDIT4" (any first line beginning with "REGEDIT"), "Windows
// Registry Editor Version 5.00" or Windows 3.1 ("REGEDIT" alone) file, either
// UTF-16LE with a byte-order mark or 8-bit Windows-1252. Returns "" or
// "<fileName>:<line>: <what is wrong>"; calls already made on the sink stay
// made, so a caller that wants all or nothing reads into a scratch tree.
std::string ReadRegFile(std::span<const std::uint8_t> bytes,
                        std::string_view fileName, RegSink& sink,
                        HexStrings strings = HexStrings::kTerminated);

// Reads the file without applying it: "" when a reader would meet nothing
// an importer must refuse (syntax, an unknown or empty root, a root deleted,
// a value outside a key), else "<fileName>:<line>: <what is wrong>".
std::string CheckRegFile(std::span<const std::uint8_t> bytes,
                         std::string_view fileName);

// The records CheckRegFile accepts, passed on to `next`; the first one it
// refuses stops the reader.
class CheckingSink : public RegSink {
 public:
  explicit CheckingSink(RegSink& next) : next_(next) {}
  std::string OnKey(std::u16string_view path) override;
  std::string OnDeleteKey(std::u16string_view path) override;
  std::string OnValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override;
  std::string OnDeleteValue(std::u16string_view name) override;

 private:
  RegSink& next_;
  bool inKey_ = false;
};

// Builds a Version 5.00 file in UTF-16LE with a byte-order mark and CRLF line
// ends, laid out as regedit exports it. Keys are written in the order given;
// each Value belongs to the last Key.
class RegWriter {
 public:
  RegWriter();

  // Answers false, writing nothing, for a path the format can't carry (one
  // with a line break in it).
  bool Key(std::u16string_view path);
  void Value(std::u16string_view name, std::uint32_t type,
             std::span<const std::uint8_t> data);

  // The finished file; call once, last.
  std::string Finish();

 private:
  void Put(char16_t c);
  void PutAscii(std::string_view s);
  void PutEscaped(std::u16string_view s);
  void PutHex(std::size_t lineLength, std::span<const std::uint8_t> data);

  std::string out_;  // UTF-16LE bytes
};

}  // namespace corvane::regfile
