#include <gtest/gtest.h>

#include "widen.h"

#include <string>

#include "payload/temp_name.h"

namespace kestrane {
namespace {

struct TempNameCase {
  const char* name;
  std::string path;
  std::string temp_name;
};

TEST(MakeTempName, PutsATildeBeforeTheFileName) {
  const TempNameCase cases[] = {
      {"bare file name", "kvx.cok", "~kvx.cok"},
      {"file in a folder", "C:\\a\\b.pak", "C:\\a\\~b.pak"},
      {"install folder", "C:\\Games\\Kestrane\\kvx.cok", "C:\\Games\\Kestrane\\~kvx.cok"},
      {"file at a drive root", "C:\\kvx.cok", "C:\\~kvx.cok"},
      {"one-letter file name", "C:\\a\\b", "C:\\a\\~b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MakeTempName(Widen(c.path)), Widen(c.temp_name)) << c.name;
  }
}

TEST(MakeTempName, TheLastCharacterIsNotExamined) {
  const TempNameCase cases[] = {
      {"trailing backslash: the one before it counts", "C:\\a\\b\\", "C:\\a\\~b\\"},
      {"only backslash is the last character", "kvx\\", "~kvx\\"},
      {"single backslash", "\\", "~\\"},
      {"empty path", "", "~"},
      {"one character", "k", "~k"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MakeTempName(Widen(c.path)), Widen(c.temp_name)) << c.name;
  }
}

TEST(MakeTempName, LongPathsAreHandledWithinTheirLength) {
  const std::string folder = "C:\\" + std::string(100000, 'f') + "\\";
  EXPECT_EQ(MakeTempName(Widen(folder + "kvx.cok")), Widen(folder + "~kvx.cok"));
  const std::string name(100000, 'n');
  EXPECT_EQ(MakeTempName(Widen(name)), Widen("~" + name));
}

TEST(MakeTempName, NamesInAnyScriptKeepEveryUnit) {
  const struct {
    const char* name;
    std::u16string path;
    std::u16string temp_name;
  } cases[] = {
      {"Cyrillic folder", u"C:\\Игры\\Kestrane\\kvx.cok", u"C:\\Игры\\Kestrane\\~kvx.cok"},
      {"Greek file name", u"C:\\Games\\Αρχείο.pak", u"C:\\Games\\~Αρχείο.pak"},
      {"Chinese, relative", u"语言\\中文.lng", u"语言\\~中文.lng"},
      {"a unit sharing a byte with the backslash", u"C:\\a\u5C5Cb.pak", u"C:\\~a\u5C5Cb.pak"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MakeTempName(c.path), c.temp_name) << c.name;
  }
}

}  // namespace
}  // namespace kestrane
