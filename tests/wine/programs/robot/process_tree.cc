#include "process_tree.h"

#include <tlhelp32.h>

#include "startup/scoped_handle_win.h"

namespace robot {

void ProcessTree::Refresh() {
  kestrane::ScopedHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap.valid()) return;
  for (int pass = 0; pass < 4; ++pass) {  // grandchildren listed before their parents
    bool grew = false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snap.get(), &entry); more;
         more = Process32NextW(snap.get(), &entry)) {
      if (Contains(entry.th32ParentProcessID) && !Contains(entry.th32ProcessID)) {
        pids_.insert(entry.th32ProcessID);
        grew = true;
      }
    }
    if (!grew) break;
  }
}

void ProcessTree::TerminateAll() const {
  for (DWORD pid : pids_) {
    if (pid == GetCurrentProcessId()) continue;
    kestrane::ScopedHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (process.valid()) TerminateProcess(process.get(), 0xDEAD);
  }
}

}  // namespace robot
