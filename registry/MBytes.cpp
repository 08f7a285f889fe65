// MBytes: byte moves through the platform, with the last error recorded.
#include "registry/MBytes.h"

#include "errors/MErrors.h"
#include "platform/Platform.h"

namespace corvane::MBytes {

void MoveBytes(void* destination, const void* source, std::size_t count) {
  platform::RtlMoveMemory(destination, source, count);
  MErrors::RecordLastError();
}

}  // namespace corvane::MBytes
