// The waits for a host application the installer has just started: first for its
// shared-memory object, then for its main window. The installer shows nothing meanwhile.
#pragma once

#include <cstdint>
#include <functional>

namespace kestrane {

struct PollSchedule {
  int attempts;
  uint32_t interval_ms;
};

// The host needs a moment to create its object (8 probes, 512 ms apart) and longer to show its
// window (11 probes, 1024 ms apart): about 15.4 s in all before the installer gives up.
constexpr PollSchedule kHostStartPolls = {8, 512};
constexpr PollSchedule kHostWindowPolls = {11, 1024};

// Sleeps one interval, then probes; repeats until the probe succeeds or the attempts are
// spent. Returns the number of the attempt that succeeded (1 for the first), or 0 when none
// did.
int PollAfterSleeps(const PollSchedule& schedule, const std::function<void(uint32_t)>& sleep,
                    const std::function<bool()>& probe);

}  // namespace kestrane
