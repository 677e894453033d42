#include "update/update_texts.h"

#include <gtest/gtest.h>

#include <string>

#include "update/package_info.h"

namespace kestrane {
namespace {

PackageInfo DefaultPackage() { return MakePackageInfo("kvx", "cok", 367, false); }

// The package caption as the binary carries it: code page 1251, spelled out byte by byte so
// that a source or compiler charset slip cannot hide.
const std::string kCaptionBytes =
    "\"\xC7\xE2\xF3\xEA\xEE\xE2\xFB\xE5 \xEA\xEE\xEC\xEC\xE5\xED\xF2\xE0\xF0\xE8\xE8 \xEA "
    "\xE2\xFB\xF5\xEE\xE4\xF3 \xE8\xE7 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB\" "
    "\xE2\xE5\xF0\xF1\xE8\xE8 367";
const std::string kTitleRussianBytes =
    "\xCE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB "
    "\"\xCA\xE5\xF1\xF2\xF0\xE5\xE9\xED\"";

TEST(PackageCaption, IsTheDescriptionFollowedByTheVersionInCodePage1251) {
  EXPECT_EQ(DefaultPackage().PackageCaption, kCaptionBytes);
  EXPECT_EQ(DefaultPackage().TitleRussian, kTitleRussianBytes);
}

struct InstallQuestionRow {
  bool russian;
  std::string text;
  std::string caption;
};

TEST(InstallQuestion, NamesTheProductAndThePackageInTheInterfaceLanguage) {
  const InstallQuestionRow rows[] = {
      {false, "Would you like to setup\r\nKestrane update -\r\n" + kCaptionBytes + "?",
       "Sound question"},
      {true,
       "\xC2\xFB \xE4\xE5\xE9\xF1\xF2\xE2\xE8\xF2\xE5\xEB\xFC\xED\xEE \xF5\xEE\xF2\xE8\xF2\xE5 "
       "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xE8\xF2\xFC\r\n" +
           kTitleRussianBytes + " -\r\n" + kCaptionBytes + "?",
       "\xD0\xE5\xE7\xEE\xED\xED\xFB\xE9 \xE2\xEE\xEF\xF0\xEE\xF1"},
  };
  const PackageInfo info = DefaultPackage();
  for (const InstallQuestionRow& row : rows) {
    SCOPED_TRACE(row.russian ? "Russian" : "English");
    EXPECT_EQ(InstallQuestionText(info, row.russian), row.text);
    EXPECT_EQ(std::string(InstallQuestionCaption(row.russian)), row.caption);
  }
}

TEST(InstallQuestion, FollowsThePackageVersion) {
  const PackageInfo info = MakePackageInfo("kvx", "cok", 12, false);
  const std::string text = InstallQuestionText(info, false);
  EXPECT_EQ(text.substr(text.size() - 4), " 12?");
}

TEST(FinishQuestion, IsRussianWithABlankLineBeforeTheQuestion) {
  const std::string expected =
      "\xCD\xE0 \xC2\xE0\xF8 \xEA\xEE\xEC\xEF\xFC\xFE\xF2\xE5\xF0 "
      "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xEB\xE5\xED\xEE\r\n" +
      kTitleRussianBytes + " -\r\n" + kCaptionBytes +
      "\r\n\r\n\xC7\xE0\xEF\xF3\xF1\xF2\xE8\xF2\xFC \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xF3?";
  EXPECT_EQ(FinishQuestionText(DefaultPackage()), expected);
}

struct ErrorTextRow {
  const char* name;
  BilingualText text;
  std::string english;
  std::string russian;
};

TEST(RunErrorTexts, HaveExactTwinsInBothLanguages) {
  const ErrorTextRow rows[] = {
      {"no rights", kNoRightsText, "You have no right to install applications!",
       "\xD3 \xC2\xE0\xF1 \xED\xE5\xF2 \xEF\xF0\xE0\xE2\xE0 "
       "\xF3\xF1\xF2\xE0\xED\xE0\xE2\xEB\xE8\xE2\xE0\xF2\xFC "
       "\xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB!"},
      {"host not installed", kHostNotInstalledText,
       "There's no subject of update - the Kestrane installed.\r\n"
       "Please, install the program at first.",
       "\xCD\xE5\xF2 \xEF\xF0\xE5\xE4\xEC\xE5\xF2\xE0 \xEE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xFF - "
       "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xEB\xE5\xED\xED\xEE\xE9 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB "
       "\"\xCA\xE5\xF1\xF2\xF0\xE5\xE9\xED\".\r\n"
       "\xCF\xEE\xE6\xE0\xEB\xF3\xE9\xF1\xF2\xE0, \xF1\xED\xE0\xF7\xE0\xEB\xE0 "
       "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xE8\xF2\xE5 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xF3."},
  };
  for (const ErrorTextRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(std::string(row.text.english), row.english);
    EXPECT_EQ(std::string(row.text.russian), row.russian);
  }
}

}  // namespace
}  // namespace kestrane
