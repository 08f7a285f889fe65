// MBytes: the byte moves of the value codec. Every move goes through the
// system's RtlMoveMemory and records the last-error value afterwards, as every
// KERNEL32 call of the model does.
#pragma once

#include <cstddef>

namespace corvane::MBytes {

// Copies `count` bytes from `source` to `destination` (the ranges may
// overlap).
void MoveBytes(void* destination, const void* source, std::size_t count);

}  // namespace corvane::MBytes
