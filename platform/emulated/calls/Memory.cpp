// The emulated memory functions of KERNEL32: LocalAlloc and LocalFree,
// GlobalAlloc and GlobalFree, and the process heap. Every block is the C
// library's, and the live ones are kept in a table: a pointer that is not a
// live block (freed twice, never allocated, the middle of one) is refused
// with Windows' status instead of reaching free(), where it would corrupt
// the heap.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/Platform.h"

namespace corvane::platform {
namespace {

class Blocks {
 public:
  // A new block of `bytes` (one at least, as Windows gives a zero-byte
  // request a block of its own), zeroed on request; NULL when out of memory.
  void* Allocate(SIZE_T bytes, bool zeroed) {
    void* block = zeroed ? std::calloc(bytes == 0 ? 1 : bytes, 1)
                         : std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) return nullptr;
    const std::lock_guard<std::mutex> lock(mutex_);
    sizes_[block] = bytes;
    return block;
  }

  // Frees `block` when it is live; false when it is not.
  bool Free(void* block) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (sizes_.erase(block) == 0) return false;
    }
    std::free(block);
    return true;
  }

  // `block` grown or shrunk to `bytes`, its new tail zeroed on request; in
  // place only when asked, which the C library can't promise for growth.
  // NULL, with `block` unchanged, when it can't be done.
  void* Resize(void* block, SIZE_T bytes, bool zeroed, bool inPlaceOnly) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = sizes_.find(block);
    if (it == sizes_.end()) return nullptr;
    const SIZE_T old = it->second;
    if (inPlaceOnly) {
      if (bytes > old) return nullptr;
      it->second = bytes;
      return block;
    }
    void* moved = std::realloc(block, bytes == 0 ? 1 : bytes);
    if (moved == nullptr) return nullptr;
    sizes_.erase(it);
    sizes_[moved] = bytes;
    if (zeroed && bytes > old) {
      std::memset(static_cast<char*>(moved) + old, 0, bytes - old);
    }
    return moved;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<void*, SIZE_T> sizes_;
};

// Never destroyed: a static destructor elsewhere may still free a message.
Blocks& TheBlocks() {
  static Blocks* blocks = new Blocks;
  return *blocks;
}

// The process heap's handle: an address no block can have.
char processHeap;

// LocalAlloc's and GlobalAlloc's shared answer: fixed blocks only, as
// nothing here locks a moveable one.
void* FixedBlock(UINT uFlags, SIZE_T bytes, UINT zeroInit) {
  if ((uFlags & ~zeroInit) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* block = TheBlocks().Allocate(bytes, (uFlags & zeroInit) != 0);
  if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

void* FreeBlock(void* block) {
  if (block == nullptr || TheBlocks().Free(block)) return nullptr;
  SetLastError(ERROR_INVALID_HANDLE);
  return block;
}

bool IsProcessHeap(HANDLE heap) { return heap == &processHeap; }

}  // namespace

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  return FixedBlock(uFlags, uBytes, LMEM_ZEROINIT);
}

HLOCAL LocalFree(HLOCAL hMem) { return FreeBlock(hMem); }

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  return FixedBlock(uFlags, dwBytes, GMEM_ZEROINIT);
}

HGLOBAL GlobalFree(HGLOBAL hMem) { return FreeBlock(hMem); }

HANDLE GetProcessHeap() { return &processHeap; }

// HeapAlloc and HeapReAlloc leave the last error alone when they fail, as
// Windows' do.
void* HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  if (!IsProcessHeap(hHeap)) return nullptr;
  return TheBlocks().Allocate(dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0);
}

void* HeapReAlloc(HANDLE hHeap, DWORD dwFlags, void* lpMem, SIZE_T dwBytes) {
  if (!IsProcessHeap(hHeap)) return nullptr;
  return TheBlocks().Resize(lpMem, dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0,
                            (dwFlags & HEAP_REALLOC_IN_PLACE_ONLY) != 0);
}

BOOL HeapFree(HANDLE hHeap, DWORD /*dwFlags*/, void* lpMem) {
  if (lpMem == nullptr) return 1;
  if (!IsProcessHeap(hHeap) || !TheBlocks().Free(lpMem)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return 1;
}

}  // namespace corvane::platform
