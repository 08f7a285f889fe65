// Change notifications (RegNotifyChangeKeyValue), on both backends: what
// each filter wakes for, the subtree flag, one notification per
// registration, the first registration of a handle kept, the handle's close
// and the key's deletion, the synchronous form, and changes made by other
// processes, four writers at once included.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "support/Process.h"
#include "support/RegChild.h"
#include "support/ScratchFolder.h"
#include "support/ScratchKey.h"

namespace corvane::platform {
namespace {

using testing::kChildGuard;
using testing::StartRegChild;
using namespace std::chrono_literals;

constexpr DWORD kName = REG_NOTIFY_CHANGE_NAME;
constexpr DWORD kLastSet = REG_NOTIFY_CHANGE_LAST_SET;
// How long a change that must not wake a registration is given to do so
// anyway: notifications reach it from another thread.
constexpr DWORD kQuietMs = 250;
constexpr DWORD kGuardMs = 10000;

LONG SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

class Notify : public ::testing::Test {
 protected:
  Notify() : event_(CreateEventA(nullptr, 1, 0, nullptr)) {}
  ~Notify() override {
    for (HKEY key : keys_) RegCloseKey(key);
    CloseHandle(event_);
  }

  // Registers `key` for the event, asynchronously, from a clear event.
  LONG Arm(HKEY key, bool subtree, DWORD filter) {
    ResetEvent(event_);
    return RegNotifyChangeKeyValue(key, subtree, filter, event_, 1);
  }
  bool Fired(DWORD ms = kGuardMs) {
    return WaitForSingleObject(event_, ms) == WAIT_OBJECT_0;
  }
  bool Quiet() { return !Fired(kQuietMs); }
  HKEY Key(const std::string& relative) {
    HKEY key = scratch_.CreateKey(relative);
    keys_.push_back(key);
    return key;
  }
  std::string Path(const std::string& relative) const {
    return scratch_.Path() + "\\" + relative;
  }

  testing::ScratchKey scratch_;
  testing::ScratchFolder folder_;
  HANDLE event_;
  std::vector<HKEY> keys_;
};

TEST_F(Notify, ArgumentsAreCheckedAsWindowsChecksThem) {
  const HKEY key = Key("Args");
#ifdef CORVANE_EMULATED
  // Wine takes any filter bits (and keeps them as the handle's filter),
  // and answers 6 for the asynchronous form without an event.
  EXPECT_EQ(RegNotifyChangeKeyValue(key, 0, 0x20, event_, 1),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegNotifyChangeKeyValue(key, 0, kName | 0x80000000u, event_, 1),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegNotifyChangeKeyValue(key, 0, kName, nullptr, 1),
            ERROR_INVALID_PARAMETER);
#endif
  HKEY closed = scratch_.CreateKey("Closed");
  RegCloseKey(closed);
  EXPECT_EQ(RegNotifyChangeKeyValue(closed, 0, kName, event_, 1),
            ERROR_INVALID_HANDLE);
  const HANDLE gone = CreateEventA(nullptr, 1, 0, nullptr);
  CloseHandle(gone);
  EXPECT_EQ(RegNotifyChangeKeyValue(key, 0, kName, gone, 1),
            ERROR_INVALID_HANDLE);
  // The right to be notified is the handle's.
  HKEY query = 0;
  ASSERT_EQ(
      RegOpenKeyExA(scratch_.Handle(), "Args", 0, KEY_QUERY_VALUE, &query),
      ERROR_SUCCESS);
  EXPECT_EQ(RegNotifyChangeKeyValue(query, 0, kName, event_, 1),
            ERROR_ACCESS_DENIED);
  RegCloseKey(query);

  const HKEY agnostic = Key("Args");
  EXPECT_EQ(RegNotifyChangeKeyValue(
                agnostic, 0, kLastSet | REG_NOTIFY_THREAD_AGNOSTIC, event_, 1),
            ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "v", "1"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired());
}

TEST_F(Notify, EachFilterWakesForItsOwnKindOfChange) {
  const HKEY names = Key("Filters");
  ASSERT_EQ(Arm(names, false, kName), ERROR_SUCCESS);
  EXPECT_EQ(SetString(names, "v", "1"), ERROR_SUCCESS);
  EXPECT_TRUE(Quiet()) << "a value set woke a watch of subkeys";
  scratch_.Make("Filters\\Sub");
  EXPECT_TRUE(Fired()) << "a subkey added";
  ASSERT_EQ(Arm(names, false, kName), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(names, "Sub"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired()) << "a subkey deleted";

  const HKEY values = Key("Filters");
  ASSERT_EQ(Arm(values, false, kLastSet), ERROR_SUCCESS);
  scratch_.Make("Filters\\Other");
  EXPECT_TRUE(Quiet()) << "a subkey added woke a watch of values";
  EXPECT_EQ(SetString(values, "v", "2"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired()) << "a value set";
  ASSERT_EQ(Arm(values, false, kLastSet), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(values, "v"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired()) << "a value deleted";

  // Keys carry no security descriptor here to change; on Windows nothing
  // of this changes one either.
  const HKEY others = Key("Filters");
  ASSERT_EQ(Arm(others, true,
                REG_NOTIFY_CHANGE_SECURITY | REG_NOTIFY_CHANGE_ATTRIBUTES),
            ERROR_SUCCESS);
  EXPECT_EQ(SetString(values, "w", "1"), ERROR_SUCCESS);
  scratch_.Make("Filters\\Third");
  EXPECT_TRUE(Quiet());
}

TEST_F(Notify, TheSubtreeFlagReachesBelowTheKeyAndNoFurther) {
  const HKEY child = Key("Top\\Child");
  const HKEY grandchild = Key("Top\\Child\\Grandchild");
  const HKEY sibling = Key("Sibling");

  const HKEY alone = Key("Top");
  ASSERT_EQ(Arm(alone, false, kName | kLastSet), ERROR_SUCCESS);
  EXPECT_EQ(SetString(child, "v", "1"), ERROR_SUCCESS);
  scratch_.Make("Top\\Child\\New");
  EXPECT_EQ(SetString(sibling, "v", "1"), ERROR_SUCCESS);
  EXPECT_TRUE(Quiet()) << "changes below woke a watch of the key alone";
  EXPECT_EQ(SetString(alone, "v", "1"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired());

  const HKEY tree = Key("Top");
  ASSERT_EQ(Arm(tree, true, kName | kLastSet), ERROR_SUCCESS);
  EXPECT_EQ(SetString(sibling, "v", "2"), ERROR_SUCCESS);
  EXPECT_TRUE(Quiet()) << "a change outside the subtree";
  EXPECT_EQ(SetString(grandchild, "v", "1"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired()) << "a value set two levels below";
  ASSERT_EQ(Arm(tree, true, kName | kLastSet), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(child, "New"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired()) << "a key deleted below";
}

// Microsoft documents it, and Wine agrees: a handle keeps the filter and
// subtree flag of its first call; later calls succeed and arm it again.
TEST_F(Notify, ARegistrationFiresOnceAndAHandleKeepsItsFirstWatch) {
  const HKEY key = Key("Once");
  ASSERT_EQ(Arm(key, false, kLastSet), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "v", "1"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired());
  ResetEvent(event_);
  EXPECT_EQ(SetString(key, "v", "2"), ERROR_SUCCESS);
  EXPECT_TRUE(Quiet()) << "fired again without being registered again";

  ASSERT_EQ(Arm(key, true, kName), ERROR_SUCCESS);
  scratch_.Make("Once\\Sub");
  EXPECT_TRUE(Quiet()) << "the second call's filter replaced the first's";
  EXPECT_EQ(SetString(key, "v", "3"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired());

  // The same while the first is still pending.
  const HKEY pending = Key("Once");
  ASSERT_EQ(Arm(pending, false, kLastSet), ERROR_SUCCESS);
  EXPECT_EQ(RegNotifyChangeKeyValue(pending, 1, kName, event_, 1),
            ERROR_SUCCESS);
  scratch_.Make("Once\\Other");
  EXPECT_TRUE(Quiet());
  EXPECT_EQ(SetString(pending, "v", "4"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired());
}

TEST_F(Notify, ClosingTheHandleOrDeletingTheKeySignals) {
  HKEY closing = scratch_.CreateKey("Closing");
  ASSERT_EQ(Arm(closing, false, kLastSet), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(closing), ERROR_SUCCESS);
  EXPECT_TRUE(Fired()) << "closed";

  // A synchronous caller on another thread returns 0.
  HKEY waited = scratch_.CreateKey("Closing");
  auto waiter = std::async(std::launch::async, [waited] {
    return RegNotifyChangeKeyValue(waited, 0, kLastSet, nullptr, 0);
  });
  EXPECT_EQ(waiter.wait_for(300ms), std::future_status::timeout);
  EXPECT_EQ(RegCloseKey(waited), ERROR_SUCCESS);
  ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(waiter.get(), ERROR_SUCCESS);

#ifdef CORVANE_EMULATED
  // As on Windows; Wine signals nothing when the key is deleted.
  const HKEY doomed = Key("Doomed");
  ASSERT_EQ(Arm(doomed, false, kLastSet), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(scratch_.Handle(), "Doomed"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired()) << "the watched key deleted";
#endif
}

#ifdef CORVANE_EMULATED
// Microsoft: the thread's exit signals its registrations, unless they were
// made with REG_NOTIFY_THREAD_AGNOSTIC. Wine signals nothing.
TEST_F(Notify, AThreadsRegistrationEndsWithItUnlessThreadAgnostic) {
  const HKEY key = Key("Threads");
  LONG status = -1;
  std::thread([&] { status = Arm(key, false, kLastSet); }).join();
  EXPECT_EQ(status, ERROR_SUCCESS);
  EXPECT_TRUE(Fired()) << "the thread that registered ended";

  const HKEY other = Key("Threads");
  std::thread([&] {
    status = Arm(other, false, kLastSet | REG_NOTIFY_THREAD_AGNOSTIC);
  }).join();
  EXPECT_EQ(status, ERROR_SUCCESS);
  EXPECT_TRUE(Quiet());
  EXPECT_EQ(SetString(key, "v", "1"), ERROR_SUCCESS);
  EXPECT_TRUE(Fired());
}

#endif

TEST_F(Notify, TheSynchronousFormReturnsAfterAMatchingChange) {
  const HKEY key = Key("Sync");
  auto waiter = std::async(std::launch::async, [key] {
    return RegNotifyChangeKeyValue(key, 1, kLastSet, nullptr, 0);
  });
  EXPECT_EQ(waiter.wait_for(300ms), std::future_status::timeout);
  scratch_.Make("Sync\\Sub");
  EXPECT_EQ(waiter.wait_for(300ms), std::future_status::timeout)
      << "returned for a kind of change it doesn't watch";
  EXPECT_EQ(SetString(key, "v", "1"), ERROR_SUCCESS);
  ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(waiter.get(), ERROR_SUCCESS);
}

TEST_F(Notify, AChangeInOneProcessWakesAWatchInAnother) {
  const HKEY key = Key("Shared");
  ASSERT_EQ(Arm(key, true, kLastSet), ERROR_SUCCESS);
  const auto run =
      testing::RunRegChild({"set", Path("Shared\\Below"), "v", "child"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Fired()) << "the child's change";

  // And the other way round.
  auto child = StartRegChild({"notify", Path("Shared"), "4", "0"});
  ASSERT_EQ(child->ReadLine(kChildGuard), "armed");
  EXPECT_EQ(SetString(key, "v", "parent"), ERROR_SUCCESS);
  EXPECT_EQ(child->ReadLine(kChildGuard), "notified");
  EXPECT_EQ(child->Wait(kChildGuard), 0);
}

// Four processes write values as fast as they can, more commits than the
// store's ring of recent changes holds; this process registers again after
// each notification and counts what it sees. A change it missed would leave
// it waiting with values still unseen.
TEST_F(Notify, FourWritersAtOnceAndNoChangeMissed) {
  constexpr int kWriters = 4, kEach = 100;
  const HKEY top = Key("Writers");
  const std::string go = folder_.File("go");
  std::vector<std::unique_ptr<testing::Process>> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.push_back(StartRegChild({"wait", go, "write-many",
                                     Path("Writers\\W" + std::to_string(i)),
                                     "v", std::to_string(kEach)}));
  }
  std::ofstream{go};
  int notifications = 0;
  for (;;) {
    ASSERT_EQ(Arm(top, true, kLastSet), ERROR_SUCCESS);
    DWORD seen = 0;
    for (int i = 0; i < kWriters; ++i) {
      HKEY key = 0;
      if (RegOpenKeyExA(top, ("W" + std::to_string(i)).c_str(), 0, KEY_READ,
                        &key) == ERROR_SUCCESS) {
        seen += testing::ValueCount(key);
        RegCloseKey(key);
      }
    }
    if (seen == DWORD{kWriters * kEach}) break;
    ASSERT_TRUE(Fired()) << "no notification with " << seen << " values seen";
    ++notifications;
  }
  EXPECT_GT(notifications, 0);
  for (auto& writer : writers) EXPECT_EQ(writer->Wait(kChildGuard), 0);
}

}  // namespace
}  // namespace corvane::platform
