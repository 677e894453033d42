#include "installfolder/install_lock_win.h"

namespace kestrane {
namespace {

// Returns the mutex of that name, made when missing, or null. One that exists but that we may
// not take over with full access is opened for waiting and releasing only.
HANDLE OpenLockMutex(const wchar_t* name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (mutex != nullptr || GetLastError() != ERROR_ACCESS_DENIED) return mutex;
  return OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
}

}  // namespace

InstallLock::InstallLock(DWORD wait_ms, const wchar_t* name, const wchar_t* session_name) {
  mutex_ = OpenLockMutex(name);
  if (mutex_ == nullptr) mutex_ = OpenLockMutex(session_name);
  if (mutex_ == nullptr) return;  // kUnavailable
  switch (WaitForSingleObject(mutex_, wait_ms)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // a run that was killed left it; its leftovers are handled as such
      state_ = State::kHeld;
      return;
    case WAIT_TIMEOUT:
      state_ = State::kTimedOut;
      return;
    default:
      state_ = State::kUnavailable;
      return;
  }
}

InstallLock::~InstallLock() {
  if (mutex_ == nullptr) return;
  if (state_ == State::kHeld) ReleaseMutex(mutex_);
  CloseHandle(mutex_);
}

}  // namespace kestrane
