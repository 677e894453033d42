// The lock that keeps installer runs on one machine from colliding: two runs started together
// (a double click, a deployment tool that retries) would write the same temporary file and
// measure the folder while the other still writes. A named mutex in the global namespace, so
// that runs in every session see it.
#pragma once

#include <windows.h>

namespace kestrane {

// The lock's names: the global one, and the session's own when the global namespace is
// refused (no right to make global objects, or a name taken by an object we may not use).
constexpr wchar_t kInstallLockName[] = L"Global\\KestraneUpdate.InstallLock";
constexpr wchar_t kInstallLockSessionName[] = L"Local\\KestraneUpdate.InstallLock";
// Longer than a normal write and size refresh plus the wait for a held target
// (kReplaceRetryMillis), so that a run waits out one other run that meets a quitting host.
constexpr DWORD kInstallLockWaitMillis = 30000;

class InstallLock {
 public:
  enum class State {
    kHeld,         // this run holds the lock (also when a killed run had left it abandoned)
    kTimedOut,     // another run kept it for the whole wait
    kUnavailable,  // no lock object could be made or opened; the run is not serialised
  };

  // Takes the lock, waiting up to wait_ms for another run to release it. The names are for
  // tests; the installer uses the defaults.
  explicit InstallLock(DWORD wait_ms = kInstallLockWaitMillis,
                       const wchar_t* name = kInstallLockName,
                       const wchar_t* session_name = kInstallLockSessionName);
  // Releases the lock when held. Must run on the thread that took it.
  ~InstallLock();
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;

  State state() const { return state_; }

 private:
  HANDLE mutex_ = nullptr;
  State state_ = State::kUnavailable;
};

}  // namespace kestrane
