#include "installfolder/install_lock_win.h"

#include <gtest/gtest.h>

namespace kestrane {
namespace {

constexpr wchar_t kName[] = L"Global\\KestraneUpdate.LockTest";
constexpr wchar_t kSessionName[] = L"Local\\KestraneUpdate.LockTest";

struct Taker {
  DWORD wait_ms;
  const wchar_t* name;
  InstallLock::State state;
  bool release;  // false: end the thread holding the lock, as a killed run does
};

DWORD WINAPI TakeLock(void* parameter) {
  auto* taker = static_cast<Taker*>(parameter);
  if (taker->release) {
    InstallLock lock(taker->wait_ms, taker->name, kSessionName);
    taker->state = lock.state();
    return 0;
  }
  // Taken and never released: the thread's end abandons the mutex.
  auto* lock = new InstallLock(taker->wait_ms, taker->name, kSessionName);
  taker->state = lock->state();
  return 0;
}

// Takes the lock on a thread of its own (the mutex belongs to the thread that takes it).
InstallLock::State TakeElsewhere(DWORD wait_ms, const wchar_t* name = kName, bool release = true) {
  Taker taker{wait_ms, name, InstallLock::State::kUnavailable, release};
  HANDLE thread = CreateThread(nullptr, 0, TakeLock, &taker, 0, nullptr);
  EXPECT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
  CloseHandle(thread);
  return taker.state;
}

TEST(InstallLock, AnotherRunWaitsUntilItIsReleased) {
  {
    InstallLock held(1000, kName, kSessionName);
    ASSERT_EQ(held.state(), InstallLock::State::kHeld);
    EXPECT_EQ(TakeElsewhere(200), InstallLock::State::kTimedOut);
  }
  EXPECT_EQ(TakeElsewhere(200), InstallLock::State::kHeld);
}

TEST(InstallLock, ALockLeftByAKilledRunIsTakenOver) {
  ASSERT_EQ(TakeElsewhere(1000, kName, false), InstallLock::State::kHeld);
  InstallLock taken(1000, kName, kSessionName);
  EXPECT_EQ(taken.state(), InstallLock::State::kHeld);
}

TEST(InstallLock, ANameTakenInTheGlobalNamespaceFallsBackToTheSession) {
  constexpr wchar_t kSquatted[] = L"Global\\KestraneUpdate.LockTest.Squatted";
  // An object of another kind holds the global name: the mutex cannot be made there.
  HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, kSquatted);
  ASSERT_NE(squatter, nullptr);
  {
    InstallLock held(1000, kSquatted, kSessionName);
    EXPECT_EQ(held.state(), InstallLock::State::kHeld);
    // Still one lock for the runs of this session.
    EXPECT_EQ(TakeElsewhere(200, kSquatted), InstallLock::State::kTimedOut);
  }
  CloseHandle(squatter);
}

}  // namespace
}  // namespace kestrane
