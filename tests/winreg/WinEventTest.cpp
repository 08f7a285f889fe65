// Events and the waits on them, as Windows code uses them beside the
// registry: an event signalled from another thread, named events opened
// again, the rights a handle carries, and waits on several at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "WinRegTestSupport.h"

namespace {

// Closes a handle at the end of a scope.
struct Owned {
  HANDLE handle;
  explicit Owned(HANDLE h) : handle(h) {}
  ~Owned() {
    if (handle != nullptr) CloseHandle(handle);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  operator HANDLE() const { return handle; }
};

DWORD FailedWith(DWORD answer) {
  return answer == WAIT_FAILED ? GetLastError() : 0xDEADu;
}

TEST(WinEvent, AutoAndManualResetRelease) {
  Owned automatic(CreateEventW(nullptr, FALSE, TRUE, nullptr));
  ASSERT_NE(automatic.handle, nullptr);
  // An auto-reset event is taken by the wait it satisfies.
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0),
            static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(automatic, 20),
            static_cast<DWORD>(WAIT_TIMEOUT));

  Owned manual(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_NE(manual.handle, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(manual));
  // A manual-reset event stays set for every wait until it is reset.
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObjectEx(manual, INFINITE, TRUE), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  // CreateEventEx spells both choices as flags.
  Owned ex(CreateEventExW(nullptr, nullptr,
                          CREATE_EVENT_MANUAL_RESET | CREATE_EVENT_INITIAL_SET,
                          EVENT_ALL_ACCESS));
  ASSERT_NE(ex.handle, nullptr);
  EXPECT_EQ(WaitForSingleObject(ex, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ex, 0), WAIT_OBJECT_0);
}

TEST(WinEvent, AnotherThreadWakesAWait) {
  Owned automatic(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ASSERT_NE(automatic.handle, nullptr);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(automatic, 2000) == WAIT_OBJECT_0) ++woken;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // One set releases one of the two waiters; the second set the other.
  ASSERT_TRUE(SetEvent(automatic));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(woken.load(), 1);
  ASSERT_TRUE(SetEvent(automatic));
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(woken.load(), 2);
  EXPECT_EQ(WaitForSingleObject(automatic, 0),
            static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(WinEvent, NamedEventsAreOpenedAgain) {
  const wchar_t* name = L"CorvaneTestEvent-Named";
  Owned first(CreateEventW(nullptr, TRUE, FALSE, name));
  ASSERT_NE(first.handle, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  // A second create answers the same event, its own arguments ignored.
  Owned second(CreateEventW(nullptr, FALSE, TRUE, name));
  ASSERT_NE(second.handle, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(first.handle, second.handle);
  EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(second));
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);  // still manual

  // "Local\" is the namespace a name without prefix is in.
  Owned local(OpenEventW(SYNCHRONIZE, FALSE, L"Local\\CorvaneTestEvent-Named"));
  EXPECT_NE(local.handle, nullptr);
  // Names are compared case-sensitively.
  Owned otherCase(OpenEventW(SYNCHRONIZE, FALSE, L"corvanetestevent-named"));
  EXPECT_EQ(otherCase.handle, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  Owned ansi(OpenEventA(SYNCHRONIZE, FALSE, "CorvaneTestEvent-Named"));
  EXPECT_NE(ansi.handle, nullptr);
  // "Global\" is a namespace of its own.
  Owned global(
      OpenEventW(SYNCHRONIZE, FALSE, L"Global\\CorvaneTestEvent-Named"));
  EXPECT_EQ(global.handle, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  Owned missing(OpenEventW(SYNCHRONIZE, FALSE, L"CorvaneTestEvent-Missing"));
  EXPECT_EQ(missing.handle, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  Owned noDirectory(
      CreateEventW(nullptr, TRUE, FALSE, L"NoSuchFolder\\CorvaneTestEvent"));
  EXPECT_EQ(noDirectory.handle, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  // A name lives while a handle to it does.
  CloseHandle(first.handle);
  first.handle = nullptr;
  CloseHandle(second.handle);
  second.handle = nullptr;
  CloseHandle(local.handle);
  local.handle = nullptr;
  CloseHandle(ansi.handle);
  ansi.handle = nullptr;
  Owned gone(OpenEventW(SYNCHRONIZE, FALSE, name));
  EXPECT_EQ(gone.handle, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(WinEvent, RightsAndHandlesAreChecked) {
  const wchar_t* name = L"CorvaneTestEvent-Rights";
  Owned event(CreateEventW(nullptr, TRUE, FALSE, name));
  ASSERT_NE(event.handle, nullptr);
  Owned waitOnly(OpenEventW(SYNCHRONIZE, FALSE, name));
  ASSERT_NE(waitOnly.handle, nullptr);
  EXPECT_FALSE(SetEvent(waitOnly));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(ResetEvent(waitOnly));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  Owned setOnly(OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
  ASSERT_NE(setOnly.handle, nullptr);
  EXPECT_TRUE(SetEvent(setOnly));
  EXPECT_EQ(FailedWith(WaitForSingleObject(setOnly, 0)),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(WaitForSingleObject(waitOnly, 0), WAIT_OBJECT_0);

  // A closed handle, and one that is not a waitable object.
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(closed, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  EXPECT_EQ(FailedWith(WaitForSingleObject(closed, 0)),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(closed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_FALSE(SetEvent(token));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(token);
  // The running process is waitable and not signalled.
  EXPECT_EQ(WaitForSingleObject(GetCurrentProcess(), 10),
            static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(WinEvent, WaitForSeveral) {
  Owned a(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Owned b(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Owned m(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  const HANDLE pair[] = {a, b};
  EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0),
            static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(b));
  EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_OBJECT_0 + 1);
  // With both set, the lowest index is the one answered, and taken.
  ASSERT_TRUE(SetEvent(a));
  ASSERT_TRUE(SetEvent(b));
  EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_OBJECT_0 + 1);

  // Waiting for all takes nothing until every one is set.
  const HANDLE three[] = {a, m, b};
  ASSERT_TRUE(SetEvent(a));
  EXPECT_EQ(WaitForMultipleObjectsEx(3, three, TRUE, 0, FALSE),
            static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);  // a was left set
  ASSERT_TRUE(SetEvent(a));
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SetEvent(b);
  });
  EXPECT_EQ(WaitForMultipleObjects(3, three, TRUE, 2000), WAIT_OBJECT_0);
  late.join();
  EXPECT_EQ(WaitForSingleObject(a, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);

  // The same event twice cannot be waited for all at once, as Microsoft
  // documents; Wine waits for it.
  const HANDLE twice[] = {a, a};
  if (!UnderWine()) {
    EXPECT_EQ(FailedWith(WaitForMultipleObjects(2, twice, TRUE, 0)),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_EQ(FailedWith(WaitForMultipleObjects(0, pair, FALSE, 0)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, m.handle);
  EXPECT_EQ(FailedWith(WaitForMultipleObjects(static_cast<DWORD>(many.size()),
                                              many.data(), FALSE, 0)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
