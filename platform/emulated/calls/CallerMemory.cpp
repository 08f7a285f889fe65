// The caller's buffers, checked by the kernel (CallerMemory.h). The copy
// itself is the check: process_vm_readv and process_vm_writev on this very
// process answer EFAULT for memory it can't read or write. Where a sandbox
// refuses them (EPERM, ENOSYS), the bytes go through a pipe instead, whose
// write(2) and read(2) answer EFAULT just the same.
#include "platform/emulated/calls/CallerMemory.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace corvane::platform::emulated {
namespace {

enum class Copied { kAll, kFault, kRefused };

// Through the kernel's cross-process copy, aimed at this process.
Copied ByVm(bool write, void* local, void* remote, std::size_t size) {
  auto* l = static_cast<char*>(local);
  auto* r = static_cast<char*>(remote);
  while (size > 0) {
    iovec localPart{l, size};
    iovec remotePart{r, size};
    const ssize_t n =
        write ? process_vm_writev(getpid(), &localPart, 1, &remotePart, 1, 0)
              : process_vm_readv(getpid(), &localPart, 1, &remotePart, 1, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EFAULT ? Copied::kFault : Copied::kRefused;
    }
    // A short copy stops at the first page that faults; the next call
    // says which it was.
    if (n == 0) return Copied::kFault;
    l += n;
    r += n;
    size -= static_cast<std::size_t>(n);
  }
  return Copied::kAll;
}

// Through a pipe, a chunk at a time (an empty pipe holds a chunk whole).
bool ByPipe(void* to, const void* from, std::size_t size) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  constexpr std::size_t kChunk = 4096;
  bool ok = true;
  auto* out = static_cast<char*>(to);
  const auto* in = static_cast<const char*>(from);
  while (ok && size > 0) {
    const std::size_t n = std::min(size, kChunk);
    ssize_t done;
    do {
      done = write(fds[1], in, n);
    } while (done < 0 && errno == EINTR);
    ok = done == static_cast<ssize_t>(n);
    if (!ok) break;
    do {
      done = read(fds[0], out, n);
    } while (done < 0 && errno == EINTR);
    ok = done == static_cast<ssize_t>(n);
    in += n;
    out += n;
    size -= n;
  }
  close(fds[0]);
  close(fds[1]);
  return ok;
}

bool Copy(bool write, void* to, const void* from, std::size_t size) {
  void* local = write ? const_cast<void*>(from) : to;
  void* remote = write ? to : const_cast<void*>(from);
  switch (ByVm(write, local, remote, size)) {
    case Copied::kAll:
      return true;
    case Copied::kFault:
      return false;
    case Copied::kRefused:
      break;
  }
  return ByPipe(to, from, size);
}

std::uintptr_t PageSize() {
  static const auto size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  return size;
}

// Page ranges this thread has read from or written into, newest first.
struct Range {
  std::uintptr_t begin = 0, end = 0;
};
using Ranges = std::array<Range, 4>;
thread_local Ranges written;
thread_local Ranges read;

bool Seen(const Ranges& ranges, std::uintptr_t begin, std::uintptr_t end) {
  for (const Range& range : ranges) {
    if (begin >= range.begin && end <= range.end) return true;
  }
  return false;
}

void Remember(Ranges& ranges, std::uintptr_t begin, std::uintptr_t end) {
  const std::uintptr_t mask = PageSize() - 1;
  std::move_backward(ranges.begin(), ranges.end() - 1, ranges.end());
  ranges.front() = {begin & ~mask, (end + mask) & ~mask};
}

}  // namespace

bool SeenWritable(const void* to, std::size_t size) {
  const auto begin = reinterpret_cast<std::uintptr_t>(to);
  return begin + size >= begin && Seen(written, begin, begin + size);
}

bool ReadCaller(void* to, const void* from, std::size_t size) {
  if (size == 0) return true;
  const auto begin = reinterpret_cast<std::uintptr_t>(from);
  const std::uintptr_t end = begin + size;
  if (end < begin) return false;
  // Pages written are readable as well.
  if (Seen(read, begin, end) || Seen(written, begin, end)) {
    std::memcpy(to, from, size);
    return true;
  }
  if (!Copy(false, to, from, size)) return false;
  Remember(read, begin, end);
  return true;
}

bool WriteCaller(void* to, const void* from, std::size_t size) {
  if (size == 0) return true;
  const auto begin = reinterpret_cast<std::uintptr_t>(to);
  const std::uintptr_t end = begin + size;
  if (end < begin) return false;
  if (Seen(written, begin, end)) {
    std::memcpy(to, from, size);
    return true;
  }
  if (!Copy(true, to, from, size)) return false;
  Remember(written, begin, end);
  return true;
}

bool FillCaller(void* to, unsigned char byte, std::size_t size) {
  std::array<unsigned char, 256> fill;
  fill.fill(byte);
  auto* out = static_cast<unsigned char*>(to);
  while (size > 0) {
    const std::size_t n = std::min(size, fill.size());
    if (!WriteCaller(out, fill.data(), n)) return false;
    out += n;
    size -= n;
  }
  return true;
}

}  // namespace corvane::platform::emulated
