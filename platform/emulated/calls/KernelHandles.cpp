// The emulated kernel object handles, in one table for the process.
#include "platform/emulated/calls/KernelHandles.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace corvane::platform::emulated {
namespace {

struct HandleTable {
  std::mutex mutex;
  std::map<std::uintptr_t, KernelHandle> open;
  // Windows' handle values are small multiples of 4.
  std::uintptr_t next = 4;
};

// Never destroyed: a static destructor elsewhere may still close a handle.
HandleTable& Table() {
  static HandleTable* table = new HandleTable;
  return *table;
}

std::uintptr_t Key(HANDLE handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace

HANDLE OpenKernelHandle(std::shared_ptr<KernelObject> object, DWORD access) {
  HandleTable& table = Table();
  const std::lock_guard<std::mutex> lock(table.mutex);
  // A value still open is never handed out again, even after a wrap.
  while (table.open.count(table.next) != 0) table.next += 4;
  const std::uintptr_t value = table.next;
  table.next += 4;
  table.open[value] = KernelHandle{std::move(object), access};
  return reinterpret_cast<HANDLE>(value);
}

std::optional<KernelHandle> FindKernelHandle(HANDLE handle) {
  HandleTable& table = Table();
  const std::lock_guard<std::mutex> lock(table.mutex);
  const auto it = table.open.find(Key(handle));
  if (it == table.open.end()) return std::nullopt;
  return it->second;
}

bool CloseKernelHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> released;
  HandleTable& table = Table();
  const std::lock_guard<std::mutex> lock(table.mutex);
  const auto it = table.open.find(Key(handle));
  if (it == table.open.end()) return false;
  // The object, if this was its last handle, goes after the lock is left.
  released = std::move(it->second.object);
  table.open.erase(it);
  return true;
}

}  // namespace corvane::platform::emulated
