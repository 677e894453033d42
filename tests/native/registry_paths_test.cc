#include "environment/registry_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrane {
namespace {

TEST(RegistryPaths, TheMirrorPathHasWow6432NodeAfterTheFirstBackslash) {
  const struct {
    const char* name;
    std::string key;
    std::string mirror;
  } cases[] = {
      {"uninstall key", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
       "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"},
      {"uninstall key of the host",
       "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrane",
       "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrane"},
      {"key with one backslash at the end", "Software\\", "Software\\WOW6432Node\\"},
      {"key without a backslash is unchanged", "Software", "Software"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Wow64MirrorPath(c.key), c.mirror) << c.name;
  }
}

}  // namespace
}  // namespace kestrane
