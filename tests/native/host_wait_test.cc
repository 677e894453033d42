#include "update/host_wait.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kestrane {
namespace {

// Plays a host that appears after a delay against a clock that only the sleeps move.
struct ClockedPoll {
  uint32_t now_ms = 0;
  int sleeps = 0;
  int probes = 0;

  int Run(const PollSchedule& schedule, int64_t appears_at_ms) {
    return PollAfterSleeps(
        schedule,
        [this](uint32_t ms) {
          now_ms += ms;
          ++sleeps;
        },
        [this, appears_at_ms] {
          ++probes;
          return appears_at_ms >= 0 && now_ms >= appears_at_ms;
        });
  }
};

struct PollRow {
  const char* situation;
  int64_t appears_at_ms;  // -1: never
  int expected_attempt;   // 0: gave up
  uint32_t expected_elapsed_ms;
};

TEST(HostStartWait, ProbesAfterEachHalfSecondAndStopsAtTheFirstSighting) {
  const PollRow rows[] = {
      {"object already there", 0, 1, 512},    {"object after 1.2 s", 1200, 3, 1536},
      {"object just in time", 4096, 8, 4096}, {"object too late", 4097, 0, 4096},
      {"host never starts", -1, 0, 4096},
  };
  for (const PollRow& row : rows) {
    SCOPED_TRACE(row.situation);
    ClockedPoll poll;
    EXPECT_EQ(poll.Run(kHostStartPolls, row.appears_at_ms), row.expected_attempt);
    EXPECT_EQ(poll.now_ms, row.expected_elapsed_ms);
    EXPECT_EQ(poll.probes, poll.sleeps);  // every probe follows a sleep
  }
}

TEST(HostWindowWait, FindsALateWindowOnTheAttemptThatFollowsIt) {
  // Times count from the first window attempt's start, that is after the object was seen.
  const PollRow rows[] = {
      {"window at once", 0, 1, 1024},
      {"window after 4.5 s", 4500, 5, 5120},
      {"window on the eleventh attempt", 10300, 11, 11264},
      {"window never shown", -1, 0, 11264},
  };
  for (const PollRow& row : rows) {
    SCOPED_TRACE(row.situation);
    ClockedPoll poll;
    EXPECT_EQ(poll.Run(kHostWindowPolls, row.appears_at_ms), row.expected_attempt);
    EXPECT_EQ(poll.now_ms, row.expected_elapsed_ms);
  }
}

TEST(HostWindowWait, AWindowFiveSecondsAfterStartIsRaisedAboutFivePointSixSecondsIn) {
  // The host creates its object at once and its window 5 s after the start: the object is
  // seen on the first probe, the window on the fifth attempt.
  ClockedPoll poll;
  ASSERT_EQ(poll.Run(kHostStartPolls, 0), 1);
  const int64_t window_at = 5000;
  int attempt = PollAfterSleeps(
      kHostWindowPolls, [&poll](uint32_t ms) { poll.now_ms += ms; },
      [&poll, window_at] { return poll.now_ms >= window_at; });
  EXPECT_EQ(attempt, 5);
  EXPECT_EQ(poll.now_ms, 5632u);
}

}  // namespace
}  // namespace kestrane
