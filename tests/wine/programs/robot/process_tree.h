// The started program and every process it started, directly or through others: the boxes
// the robot answers and the processes it ends on a time-out.
#pragma once

#include <windows.h>

#include <set>

namespace robot {

class ProcessTree {
 public:
  explicit ProcessTree(DWORD root) { pids_.insert(root); }
  bool Contains(DWORD pid) const { return pids_.count(pid) != 0; }
  // Adds the processes whose parent is in the tree. Bounded by the snapshot's size.
  void Refresh();
  // Ends every process of the tree except the robot itself.
  void TerminateAll() const;

 private:
  std::set<DWORD> pids_;
};

}  // namespace robot
