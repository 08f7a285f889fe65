// A .reg file read and checked on a second thread while the calling thread
// hands what was read so far to its sink: an importer applying inside a
// transaction it can roll back spends its own time on the registry only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "regfile/RegFile.h"

namespace corvane::platform::emulated {

// Reads the file as CheckRegFile checks it and gives `sink` each record, in
// order, on the calling thread. Returns "" when the file was whole and the
// sink took every record; else the file's fault ("<fileName>:<line>: ..."),
// which wins over the sink's refusal (returned as the sink gave it). Records
// before a fault further on may already have reached the sink.
std::string ReadRegFileAhead(
    std::span<const std::uint8_t> bytes, std::string_view fileName,
    regfile::RegSink& sink,
    regfile::HexStrings strings = regfile::HexStrings::kTerminated);

}  // namespace corvane::platform::emulated
