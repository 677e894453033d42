// A thread object in the manner of the runtime thread class the progress window was designed
// around: the thread starts as soon as the object has been made, runs one overridable body,
// and the body may ask for the object to be deleted by its own thread once it returns.
// (This toolchain's threads are Win32 threads; there is no std::thread.)
#pragma once

#include <windows.h>

#include "startup/scoped_handle_win.h"

namespace kestrane {

class TThread {
 public:
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

 protected:
  TThread() = default;
  virtual ~TThread() = default;

  // Starts the thread, which runs Execute at once (it is never created suspended). Call it
  // as the last step of making a complete object, in the most derived class, so the thread
  // never meets a half-built one. Returns the thread's handle for an owner that wants to
  // wait; no handle (not valid) when the system could not create the thread, and the object is
  // then still the caller's to delete. After a successful start the caller must not touch
  // the object again unless its class never asks to be freed: the thread may already have
  // ended and deleted it.
  ScopedHandle Start();

  // The thread body.
  virtual void Execute() = 0;

  // Asks that the object be deleted on its own thread when Execute returns. Call only from
  // Execute: the flag belongs to the thread alone, so it needs no lock.
  void FreeOnTerminate() { free_on_terminate_ = true; }

 private:
  static DWORD WINAPI ThreadMain(void* parameter);

  bool free_on_terminate_ = false;
};

}  // namespace kestrane
