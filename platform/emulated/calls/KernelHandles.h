// The emulated kernel object handles: what OpenProcessToken (and any later
// call that opens a kernel object, an event for one) hands out and
// CloseHandle closes. A handle holds a reference to its object and the
// rights it was opened with; an object lives while a handle to it is open.
// Registry keys are not here: their handles are the registry's own.
#pragma once

#include <memory>
#include <optional>

#include "platform/Platform.h"

namespace corvane::platform::emulated {

// What a handle can refer to. Each kind of object derives from it.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

struct KernelHandle {
  std::shared_ptr<KernelObject> object;
  DWORD access = 0;
};

// A new handle to `object`, opened with `access`: a multiple of 4, never
// NULL nor one of the pseudo-handles ((HANDLE)-1 and below).
HANDLE OpenKernelHandle(std::shared_ptr<KernelObject> object, DWORD access);

// The handle's object and rights, or nothing when `handle` is not open.
std::optional<KernelHandle> FindKernelHandle(HANDLE handle);

// The object of `handle` when it is open and of kind T, with its rights.
template <class T>
std::shared_ptr<T> FindKernelObject(HANDLE handle, DWORD* access = nullptr) {
  std::optional<KernelHandle> found = FindKernelHandle(handle);
  if (!found) return nullptr;
  if (access != nullptr) *access = found->access;
  return std::dynamic_pointer_cast<T>(found->object);
}

// Closes `handle`; false when it was not open.
bool CloseKernelHandle(HANDLE handle);

}  // namespace corvane::platform::emulated
