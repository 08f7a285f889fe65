// A key tree to and from a regedit-format .reg file: what the hive tools,
// the format's tests and its fuzz target work with. The live registry is
// the store (Store.h); its import of .reg files is in StoreImport.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvane::platform::emulated {

class KeyTree;

// The two halves without the file: a .reg file's bytes into `tree` (cleared
// again when the bytes can't be parsed), and `tree` as a .reg file.
std::string ReadHive(std::span<const std::uint8_t> bytes,
                     std::string_view fileName, KeyTree& tree);
std::string WriteHive(const KeyTree& tree, std::string& bytes);

}  // namespace corvane::platform::emulated
