#include "progress/thread_win.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kestrane {
namespace {

constexpr DWORD kWaitMillis = 10000;

// Events a test thread signals so that the test can see what happened on it.
struct Seen {
  HANDLE ran = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE destroyed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD body_thread = 0;
  ~Seen() {
    CloseHandle(ran);
    CloseHandle(destroyed);
  }
  bool WasDestroyed() const { return WaitForSingleObject(destroyed, 0) == WAIT_OBJECT_0; }
};

enum class Body { kAskToBeFreed, kStayForOwner, kThrowAfterAskingToBeFreed };

class RecordingThread final : public TThread {
 public:
  RecordingThread(Seen& seen, Body body) : seen_(seen), body_(body) {}
  ~RecordingThread() override { SetEvent(seen_.destroyed); }
  using TThread::Start;

 protected:
  void Execute() override {
    if (body_ != Body::kStayForOwner) FreeOnTerminate();
    seen_.body_thread = GetCurrentThreadId();
    SetEvent(seen_.ran);
    if (body_ == Body::kThrowAfterAskingToBeFreed) throw std::runtime_error("body failed");
  }

 private:
  Seen& seen_;
  Body body_;
};

DWORD WaitAndExitCode(const ScopedHandle& thread) {
  EXPECT_EQ(WaitForSingleObject(thread.get(), kWaitMillis), WAIT_OBJECT_0);
  DWORD exit_code = STILL_ACTIVE;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &exit_code));
  return exit_code;
}

TEST(Thread, StartsRunningTheBodyAtOnceOnAThreadOfItsOwn) {
  Seen seen;
  auto* thread = new RecordingThread(seen, Body::kAskToBeFreed);
  ScopedHandle handle = thread->Start();
  ASSERT_TRUE(handle.valid());
  // Nothing resumes the thread: it must get going by itself.
  ASSERT_EQ(WaitForSingleObject(seen.ran, kWaitMillis), WAIT_OBJECT_0);
  EXPECT_NE(seen.body_thread, GetCurrentThreadId());
  EXPECT_EQ(WaitAndExitCode(handle), 0u);
}

struct EndCase {
  const char* name;
  Body body;
  bool freed_by_its_thread;
  DWORD exit_code;
};

TEST(Thread, FreesItsObjectWhenTheBodyEndsOnlyIfTheBodyAskedForIt) {
  const EndCase cases[] = {
      {"body that asks to be freed", Body::kAskToBeFreed, true, 0},
      {"body that leaves the object to its owner", Body::kStayForOwner, false, 0},
      {"body that throws ends its thread alone, still freed", Body::kThrowAfterAskingToBeFreed,
       true, 1},
  };
  for (const auto& c : cases) {
    Seen seen;
    auto* thread = new RecordingThread(seen, c.body);
    ScopedHandle handle = thread->Start();
    ASSERT_TRUE(handle.valid()) << c.name;
    EXPECT_EQ(WaitAndExitCode(handle), c.exit_code) << c.name;
    EXPECT_EQ(seen.WasDestroyed(), c.freed_by_its_thread) << c.name;
    if (!c.freed_by_its_thread) delete thread;
  }
}

}  // namespace
}  // namespace kestrane
