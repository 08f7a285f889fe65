// The store's change counter (ChangeCounter.h).
#include "platform/emulated/store/ChangeCounter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "platform/emulated/store/StorePaths.h"
#include "platform/emulated/system/SystemCalls.h"

namespace corvane::platform::emulated {

LONG ChangeCounter::Map(bool create) {
  if (shared_ != nullptr) return ERROR_SUCCESS;
  const SystemCalls& sys = System();
  const std::string path = ChangesPath(connection_.Path());
  const int fd =
      sys.open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  if (fd < 0) {
    return create ? connection_.Fail(
                        SQLITE_CANTOPEN,
                        path + ": " + std::generic_category().message(errno))
                  : ERROR_SUCCESS;
  }
  struct stat st;
  if (sys.fstat(fd, &st) == 0 &&
      st.st_size < static_cast<off_t>(sizeof(std::uint64_t))) {
    if (!create || sys.ftruncate(fd, sizeof(std::uint64_t)) != 0) {
      sys.close(fd);
      return create ? connection_.Fail(SQLITE_IOERR, path + ": can't be sized")
                    : ERROR_SUCCESS;
    }
  }
  void* map = sys.mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE,
                       MAP_SHARED, fd, 0);
  sys.close(fd);
  if (map == MAP_FAILED) {
    return create ? connection_.Fail(SQLITE_IOERR, path + ": can't be mapped")
                  : ERROR_SUCCESS;
  }
  shared_ = static_cast<std::uint64_t*>(map);
  return ERROR_SUCCESS;
}

void ChangeCounter::Unmap() {
  if (shared_ != nullptr) System().munmap(shared_, sizeof(std::uint64_t));
  shared_ = nullptr;
}

std::uint64_t ChangeCounter::BeforeCommit() {
  std::atomic_ref<std::uint64_t> shared(*shared_);
  const std::uint64_t before = shared.load(std::memory_order_acquire);
  const std::uint64_t odd = (before | 1) + 2;
  shared.store(odd, std::memory_order_seq_cst);
  return odd;
}

std::uint64_t ChangeCounter::AfterCommit(std::uint64_t odd) {
  std::uint64_t expected = odd;
  // Fails only when another process, holding the lock after this commit,
  // already made it even.
  std::atomic_ref<std::uint64_t>(*shared_).compare_exchange_strong(
      expected, odd + 1, std::memory_order_seq_cst);
  return odd + 1;
}

void ChangeCounter::Settle(std::uint64_t odd) {
  if (shared_ == nullptr || !connection_.TryWriteLock()) return;
  // Holding the write lock, no commit is under way: an odd counter is one a
  // writer left when it died between its commit and the counter's update.
  std::uint64_t expected = odd;
  std::atomic_ref<std::uint64_t>(*shared_).compare_exchange_strong(
      expected, odd + 1, std::memory_order_seq_cst);
  connection_.Rollback();
}

}  // namespace corvane::platform::emulated
