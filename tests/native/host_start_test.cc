#include "update/host_start.h"

#include <gtest/gtest.h>

namespace kestrane {
namespace {

TEST(HostStart, TheTokenKindComesFromItsElevationType) {
  const struct {
    bool queried;
    uint32_t elevation_type;
    TokenKind kind;
  } cases[] = {
      {true, 1, TokenKind::kDefault},  {true, 2, TokenKind::kFull},
      {true, 3, TokenKind::kLimited},  {true, 0, TokenKind::kUnknown},
      {true, 4, TokenKind::kUnknown},  {true, 0xFFFFFFFF, TokenKind::kUnknown},
      {false, 2, TokenKind::kUnknown}, {false, 1, TokenKind::kUnknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TokenKindOf(c.queried, c.elevation_type), c.kind)
        << c.queried << " " << c.elevation_type;
  }
}

// Every token kind against every answer of the shell: an elevated installer starts the host
// only through the shell, and never by itself when the shell does not answer.
TEST(HostStart, AFullTokenStartsTheHostOnlyThroughTheShell) {
  const struct {
    const char* label;
    TokenKind token;
    bool shell_answers;
    HostStartWay way;
    int shell_calls;
    int direct_calls;
  } cases[] = {
      {"UAC elevated, shell answers", TokenKind::kFull, true, HostStartWay::kByShell, 1, 0},
      {"UAC elevated, no shell", TokenKind::kFull, false, HostStartWay::kNotStarted, 1, 0},
      {"UAC off or SYSTEM", TokenKind::kDefault, true, HostStartWay::kDirect, 0, 1},
      {"UAC off or SYSTEM, no shell", TokenKind::kDefault, false, HostStartWay::kDirect, 0, 1},
      {"limited", TokenKind::kLimited, true, HostStartWay::kDirect, 0, 1},
      {"limited, no shell", TokenKind::kLimited, false, HostStartWay::kDirect, 0, 1},
      {"no UAC on the system", TokenKind::kUnknown, true, HostStartWay::kDirect, 0, 1},
      {"no UAC on the system, no shell", TokenKind::kUnknown, false, HostStartWay::kDirect, 0, 1},
  };
  for (const auto& c : cases) {
    int shell_calls = 0;
    int direct_calls = 0;
    const HostStartWay way = StartHostFor(
        c.token,
        [&] {
          ++shell_calls;
          return c.shell_answers;
        },
        [&] { ++direct_calls; });
    EXPECT_EQ(way, c.way) << c.label;
    EXPECT_EQ(shell_calls, c.shell_calls) << c.label;
    EXPECT_EQ(direct_calls, c.direct_calls) << c.label;
  }
}

}  // namespace
}  // namespace kestrane
