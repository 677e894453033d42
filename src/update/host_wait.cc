#include "update/host_wait.h"

namespace kestrane {

int PollAfterSleeps(const PollSchedule& schedule, const std::function<void(uint32_t)>& sleep,
                    const std::function<bool()>& probe) {
  for (int attempt = 1; attempt <= schedule.attempts; ++attempt) {
    sleep(schedule.interval_ms);
    if (probe()) return attempt;
  }
  return 0;
}

}  // namespace kestrane
