// Change notifications where only the emulation can be pushed: a watching
// process killed (its waiter's slot in the change memory is freed by the
// next writer) and one frozen while more commits than the ring holds go by
// (it still hears of the change it watches).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "platform/Platform.h"
#include "platform/emulated/store/SharedChanges.h"
#include "platform/emulated/store/StorePaths.h"
#include "support/Process.h"
#include "support/RegChild.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

using emulated::SharedChanges;
using testing::kChildGuard;
using testing::StartRegChild;

LONG SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

// The test store's change memory, mapped for reading.
class ChangeMemory {
 public:
  ChangeMemory() {
    std::string db = std::getenv("CORVANE_REGISTRY");
    if (db.ends_with(".reg")) db += ".db";
    const int fd = open(emulated::ChangesPath(db).c_str(), O_RDONLY);
    if (fd < 0) return;
    void* map =
        mmap(nullptr, sizeof(SharedChanges), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (map != MAP_FAILED) shared_ = static_cast<SharedChanges*>(map);
  }
  ~ChangeMemory() {
    if (shared_ != nullptr) munmap(shared_, sizeof(SharedChanges));
  }
  bool Mapped() const { return shared_ != nullptr; }

  // The marked waiters, slot to pid.
  std::map<int, std::int32_t> Waiters() const {
    std::map<int, std::int32_t> waiters;
    const std::uint64_t bits =
        std::atomic_ref(shared_->waiting).load(std::memory_order_acquire);
    for (int i = 0; i < static_cast<int>(SharedChanges::kWaiters); ++i) {
      if ((bits >> i) & 1) {
        waiters[i] = std::atomic_ref(shared_->waiters[i].pid)
                         .load(std::memory_order_acquire);
      }
    }
    return waiters;
  }

 private:
  SharedChanges* shared_ = nullptr;
};

TEST(NotifyEmulated, AKilledWatchersSlotIsFreedByTheNextWriter) {
  testing::ScratchKey scratch;
  const HKEY key = scratch.CreateKey("Watched");
  ASSERT_EQ(SetString(key, "v", "0"), ERROR_SUCCESS);
  ChangeMemory memory;
  ASSERT_TRUE(memory.Mapped());
  const auto before = memory.Waiters();

  auto child =
      StartRegChild({"notify", scratch.Path() + "\\Watched", "4", "0"});
  ASSERT_EQ(child->ReadLine(kChildGuard), "armed");
  int slot = -1;
  std::int32_t watcher = 0;
  for (const auto& [at, pid] : memory.Waiters()) {
    // A slot freed meanwhile (a watcher gone idle) may be the child's now.
    const auto was = before.find(at);
    if (pid != getpid() && (was == before.end() || was->second != pid)) {
      slot = at;
      watcher = pid;
    }
  }
  ASSERT_NE(slot, -1) << "the watching child took no waiter's slot";
  child->Kill();
  child->Wait(kChildGuard);

  // A writer finds fewer waiters to wake than are marked, and looks.
  ASSERT_EQ(SetString(key, "v", "1"), ERROR_SUCCESS);
  for (const auto& [at, pid] : memory.Waiters()) {
    EXPECT_NE(pid, watcher) << "the killed watcher still holds slot " << at;
  }
  RegCloseKey(key);
}

TEST(NotifyEmulated, AWatcherFrozenPastTheRingStillHearsOfItsChange) {
  testing::ScratchKey scratch;
  const HKEY watched = scratch.CreateKey("Watched");
  const HKEY other = scratch.CreateKey("Other");
  auto child =
      StartRegChild({"notify", scratch.Path() + "\\Watched", "4", "0"});
  ASSERT_EQ(child->ReadLine(kChildGuard), "armed");
  child->Stop();
  const int half = static_cast<int>(SharedChanges::kRecords) / 2 + 10;
  for (int i = 0; i < half; ++i) {
    ASSERT_EQ(SetString(other, "v", std::to_string(i)), ERROR_SUCCESS);
  }
  ASSERT_EQ(SetString(watched, "v", "changed"), ERROR_SUCCESS);
  for (int i = 0; i < half; ++i) {
    ASSERT_EQ(SetString(other, "v", std::to_string(i)), ERROR_SUCCESS);
  }
  child->Continue();
  EXPECT_EQ(child->ReadLine(kChildGuard), "notified");
  EXPECT_EQ(child->Wait(kChildGuard), 0);
  RegCloseKey(watched);
  RegCloseKey(other);
}

}  // namespace
}  // namespace corvane::platform
