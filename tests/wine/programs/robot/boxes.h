// Finding the message boxes of the process tree and answering them from the script, one
// transcript record each.
#pragma once

#include <windows.h>

#include <map>
#include <set>

#include "options.h"
#include "process_tree.h"
#include "transcript.h"

namespace robot {

class Robot {
 public:
  Robot(const Options& options, Transcript& transcript, DWORD main_pid, ULONGLONG start)
      : options_(options),
        transcript_(transcript),
        tree_(main_pid),
        main_pid_(main_pid),
        start_(start) {}

  // Answers every new box of the tree. Returns the number handled.
  int Poll();

  const ProcessTree& Tree() const { return tree_; }
  size_t NextAnswer() const { return next_answer_; }
  int Boxes() const { return boxes_; }
  int Unexpected() const { return unexpected_; }
  ULONGLONG Elapsed() const { return GetTickCount64() - start_; }

 private:
  // Reads, records and answers a box first seen at seen_ms.
  void Answer(HWND box, ULONGLONG seen_ms);

  const Options& options_;
  Transcript& transcript_;
  ProcessTree tree_;
  DWORD main_pid_;
  ULONGLONG start_;
  std::set<HWND> handled_;
  std::map<HWND, ULONGLONG> first_seen_;  // with a grace time: when each box was first seen
  size_t next_answer_ = 0;
  int boxes_ = 0;
  int unexpected_ = 0;
};

}  // namespace robot
