// How a write of the payload to its target ended, plain or version-guarded.
#pragma once

namespace kestrane {

enum class WriteOutcome {
  kWritten,  // the target holds the new bytes
  kKept,     // the user chose to keep the existing file (guarded only); nothing to report
  kFailed,   // the new bytes could not be put in place; the caller reports it
};

}  // namespace kestrane
