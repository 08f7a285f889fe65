// The caller's buffers, read and written without trusting their pointers:
// a buffer the process can't read or write makes the registry function
// answer 998 (ERROR_NOACCESS), as Windows' kernel does, instead of
// crashing the caller.
//
// The pages a thread has read or written successfully are remembered (a
// few ranges a thread, each kind) and used again directly: only a buffer on
// pages not yet seen costs a system call, the copy through the kernel. A
// page unmapped after it was seen, or made read-only after it was written,
// is not checked again.
#pragma once

#include <cstddef>

namespace corvane::platform::emulated {

// Copies `size` bytes from the caller's `from` to `to`; false, with `to`
// left partly written, when `from` can't be read. A size of 0 reads
// nothing and succeeds.
bool ReadCaller(void* to, const void* from, std::size_t size);

// Copies `size` bytes from `from` into the caller's `to`; false when `to`
// can't be written (some of it may have been). A size of 0 writes nothing
// and succeeds.
bool WriteCaller(void* to, const void* from, std::size_t size);

// Whether this thread has written all of [to, to + size) before, so that
// it may write there directly (as WriteCaller would).
bool SeenWritable(const void* to, std::size_t size);

// Fills the caller's `to` with `size` copies of `byte`, as WriteCaller.
bool FillCaller(void* to, unsigned char byte, std::size_t size);

}  // namespace corvane::platform::emulated
