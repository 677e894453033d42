#include "language/language_format.h"

#include <gtest/gtest.h>

#include <string>

#include "language/placeholders.h"

namespace kestrane {
namespace {

TEST(LanguageHeaders, MatchTheKeyInAnyLetterCaseRightAfterTheBracket) {
  const struct {
    const char* name;
    std::string line;
    std::string key;
    bool header;
  } cases[] = {
      {"mixed-case header", "[Greeting]", "greeting", true},
      {"upper-case header", "[GREETING]", "greeting", true},
      {"upper-case key", "[greeting]", "GREETING", true},
      {"remark after the bracket is ignored", "[greeting] the caption of the box", "greeting",
       true},
      {"blanks after the bracket", "[greeting]\t ", "greeting", true},
      {"NUL after the bracket", std::string("[greeting]\0x", 12), "greeting", true},
      {"blank before the bracket", " [greeting]", "greeting", false},
      {"tab before the bracket", "\t[greeting]", "greeting", false},
      {"text before the bracket", "x[greeting]", "greeting", false},
      {"blank inside the bracket", "[greeting ]", "greeting", false},
      {"blank after the bracket opens", "[ greeting]", "greeting", false},
      {"longer name", "[greetings]", "greeting", false},
      {"shorter name", "[greet]", "greeting", false},
      {"no closing bracket", "[greeting", "greeting", false},
      {"no opening bracket", "greeting]", "greeting", false},
      {"empty line", "", "greeting", false},
      {"lone bracket", "[", "greeting", false},
      {"key found later in the line only", "[x][greeting]", "greeting", false},
      // Code page 1251: 0xCF is capital Pe, 0xEF small pe; only A to Z ignore case.
      {"Cyrillic letters match exactly", "[\xEF\xF0]", "\xEF\xF0", true},
      {"Cyrillic letters keep their case", "[\xCF\xF0]", "\xEF\xF0", false},
      {"non-letters keep their byte", "[a_1]", "A_1", true},
      {"key starting with a bracket", "[[a]", "[a", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsHeaderLineFor(c.line, c.key), c.header) << c.name;
  }
}

TEST(LanguageHeaders, BlankLinesHoldOnlyCodesUpTo32) {
  const struct {
    std::string line;
    bool blank;
  } cases[] = {
      {"", true},      {"    ", true}, {"\t", true},    {std::string("\0 \x1F", 3), true},
      {" \x20", true}, {" a ", false}, {"\xA0", false}, {"  .", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsBlank(c.line), c.blank) << "[" << c.line << "]";
}

TEST(Placeholders, FillInOrderAndStopAtTheFirstMissingOne) {
  const std::vector<std::string> one = {"C:\\Games\\a.lng"};
  const std::vector<std::string> four = {"a", "b", "c", "d"};
  const struct {
    const char* name;
    std::string text;
    std::vector<std::string> values;
    std::string filled;
  } cases[] = {
      {"one placeholder", "Replace %1?", one, "Replace C:\\Games\\a.lng?"},
      {"the same placeholder twice", "%1 or %1", {"x"}, "x or x"},
      {"only %2 stays unchanged", "Only %2 here", four, "Only %2 here"},
      {"%10 is %1 followed by 0", "%10", {"v"}, "v0"},
      {"%1 and %3 without %2: %3 stays", "%1 and %3", four, "a and %3"},
      {"all four", "%4%3%2%1", four, "dcba"},
      {"%4 needs %3", "%1%2%4", four, "ab%4"},
      {"missing values become empty", "[%1|%2|%3]", one, "[C:\\Games\\a.lng||]"},
      {"no values at all", "%1!", {}, "!"},
      {"a value holding the next placeholder counts", "%1", {"x%2", "y"}, "xy"},
      {"a value holding its own placeholder is not filled again", "%1", {"%1%1"}, "%1%1"},
      {"a lone percent sign", "100%", {"x"}, "100%"},
      {"percent signs around", "%%1%", {"x"}, "%x%"},
      {"empty text stays empty", "", four, ""},
      {"several lines",
       "File %1\r\nis newer than %2",
       {"new", "old"},
       "File new\r\nis newer than old"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FillPlaceholders(c.text, c.values), c.filled) << c.name;
  }
}

}  // namespace
}  // namespace kestrane
