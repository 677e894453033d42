#include "startup/text_lines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "startup/startup_settings.h"
#include "startup/ascii_case.h"

namespace kestrane {
namespace {

struct SplitCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

TEST(TextLines, SplitsAsTheRuntimeReadsTextFiles) {
  const SplitCase cases[] = {
      {"empty text has no lines", "", {}},
      {"final line without a line feed counts", "a\nb", {"a", "b"}},
      {"line feed ends a line, nothing after it", "a\n", {"a"}},
      {"CR LF ends a line without the CR", "a\r\nb\r\n", {"a", "b"}},
      {"lone CR is dropped", "a\rb\n", {"ab"}},
      {"CR at the very end is dropped", "a\r", {"a"}},
      {"empty lines are kept", "\n\nx", {"", "", "x"}},
      {"NUL bytes are ordinary characters", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitTextLines(c.bytes), c.lines) << c.name;
  }
}

TEST(TextLines, FileReadingGivesTheSameLinesAndAnEmptyLineAtTheEnd) {
  const std::string path = testing::TempDir() + "text_lines_test.txt";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("[Key]\r\nvalue\rX\nlast", f);
  std::fclose(f);

  TextFile file;
  ASSERT_TRUE(file.Open(path));
  std::vector<std::string> lines;
  std::string line;
  while (!file.AtEnd()) {
    ASSERT_TRUE(file.ReadLine(&line));
    lines.push_back(line);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"[Key]", "valueX", "last"}));
  ASSERT_TRUE(file.ReadLine(&line));  // reading at the end gives an empty line
  EXPECT_EQ(line, "");
  ASSERT_TRUE(file.Rewind());
  ASSERT_TRUE(file.ReadLine(&line));
  EXPECT_EQ(line, "[Key]");
  file.Close();
  EXPECT_FALSE(file.ReadLine(&line));
  EXPECT_FALSE(file.Open(path + ".missing"));
  std::remove(path.c_str());
}

TEST(StartupSettings, RussianExactlyForTheSevenCyrillicLocales) {
  const struct {
    uint32_t lcid;
    bool russian;
  } cases[] = {
      {0x402, true}, {0x419, true},     {0x422, true}, {0x423, true}, {0x43F, true},
      {0x444, true}, {0x819, true},     {1033, false}, {1048, false}, {0x0419 | 0x10000, false},
      {0, false},    {0x819 + 1, false}};
  for (const auto& c : cases) EXPECT_EQ(IsRussianLocale(c.lcid), c.russian) << c.lcid;
}

TEST(StartupSettings, PathAndWordRules) {
  EXPECT_EQ(AddBackslash(""), "");
  EXPECT_EQ(AddBackslash("C:\\"), "C:\\");
  EXPECT_EQ(AddBackslash("C:\\Temp"), "C:\\Temp\\");
  EXPECT_EQ(LowerAsciiLetters("MODEST"), "modest");
  EXPECT_EQ(LowerAsciiLetters("RunApp1"), "runapp1");
  // Only A to Z change: a Cyrillic capital (0xC0 in code page 1251) stays as it is.
  EXPECT_EQ(LowerAsciiLetters("\xC0Z"), "\xC0z");
}

}  // namespace
}  // namespace kestrane
