#include "progress/thread_win.h"

namespace kestrane {

ScopedHandle TThread::Start() {
  // The thread id goes to a local: written by CreateThread possibly after the new thread has
  // already freed this object.
  DWORD thread_id = 0;
  return ScopedHandle(CreateThread(nullptr, 0, &TThread::ThreadMain, this, 0, &thread_id));
}

DWORD WINAPI TThread::ThreadMain(void* parameter) {
  TThread* thread = static_cast<TThread*>(parameter);
  DWORD exit_code = 0;
  try {
    thread->Execute();
  } catch (...) {
    // An exception leaving the body would otherwise end the whole process; like the runtime
    // thread class, it ends only this thread.
    exit_code = 1;
  }
  if (thread->free_on_terminate_) delete thread;
  return exit_code;
}

}  // namespace kestrane
