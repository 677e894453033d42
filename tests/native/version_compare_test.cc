#include "payload/version_compare.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrane {
namespace {

TEST(VersionCompare, ComparesDottedTextsComponentByComponentAsNumbers) {
  const struct {
    const char* first;
    const char* second;
    bool older;
  } cases[] = {
      {"1.2.3.4", "1.2.3.5", true},
      {"1.2.3.5", "1.2.3.4", false},
      {"1.2.3.4", "1.2.3.4", false},
      {"1.2.3.9", "1.2.3.10", true},  // numbers, not text
      {"1.2.3.10", "1.2.3.9", false},
      {"1.2", "1.3", true},
      {"1.3", "1.2", false},
      {"2", "10", true},
      {"10", "2", false},
      {"1.9.0.0", "2.0.0.0", true},
      {"2.0.0.0", "1.9.9.9", false},
      {"1.0.3.12", "1.0.4.0", true},
      {"$10", "17", true},  // components follow the integer rule
      {"-1.0", "0.0", true},
      {"", "1.0", true},  // an empty new text is compared like any other
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsVersionOlder(c.first, c.second), c.older) << c.first << " vs " << c.second;
  }
}

TEST(VersionCompare, MissingComponentKeepsTheNumberFromThePassBefore) {
  const struct {
    const char* first;
    const char* second;
    bool older;
  } cases[] = {
      // Pass two: the first text has no further ".", its number stays 1 and equals the
      // second text's 1; then the remainders 2 and 5 decide.
      {"1.2", "1.1.5", true},
      {"1.1.5", "1.2", false},
      // The first remainder "3" waits for the end while the second side takes 2 in pass two.
      {"1.3", "1.2.2", true},
      {"1.2.3", "1.2.3", false},
      // Pass one: the first text has no "." at all, so its number is still 0 against 1.
      {"1", "1.0", true},
      {"1.0", "1", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsVersionOlder(c.first, c.second), c.older) << c.first << " vs " << c.second;
  }
}

TEST(VersionCompare, ComponentThatIsNoIntegerDecidesAtOnce) {
  const struct {
    const char* first;
    const char* second;
    bool older;
  } cases[] = {
      {"1.2.3.4.5", "1.2.3.4", true},   // first remainder 4.5 is no integer
      {"1.2.3.4", "1.2.3.4.5", false},  // second remainder is read first
      {"1.2.0.0", "1.x.0.0", false},
      {"1.x.0.0", "1.2.0.0", true},
      {"1.x.0.0", "1.x.0.0", false},  // both fail: the second side is read first
      {"1, 0, 0, 1", "1, 0, 0, 2", false},
      {"1, 0, 0, 2", "1, 0, 0, 1", false},
      {"1.0.0.1", "1, 0, 0, 2", false},
      {"1, 0, 0, 1", "1.0.0.2", true},
      {"1.2.3.4 ", "1.2.3.4", true},  // trailing space: the first remainder is no integer
      {"1.2.3.4", "1.2.3.4 ", false},
      {"1.0", "1.2 .0", false},  // "2 " fails on the second side in pass two
      {".1.2", "2.1.2", true},   // a leading "." leaves the component untaken
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsVersionOlder(c.first, c.second), c.older) << c.first << " vs " << c.second;
  }
}

}  // namespace
}  // namespace kestrane
