#include "payload/guarded_write.h"

#include "payload/safe_write_win.h"

namespace kestrane {

// TEMPORARY: the version comparison and the question are not built yet. Until they are, the
// guarded mode writes like the plain mode, through the same safe replacement.
GuardedOutcome WriteGuarded(const void* bytes, size_t size, const std::string& resource_type,
                            const std::string& target) {
  return WriteFileReplacing(bytes, size, target) ? GuardedOutcome::kWritten
                                                 : GuardedOutcome::kFailed;
}

}  // namespace kestrane
