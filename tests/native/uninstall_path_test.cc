#include "environment/uninstall_path.h"

#include <gtest/gtest.h>

#include "widen.h"

#include <string>

namespace kestrane {
namespace {

struct FolderCase {
  const char* name;
  std::string uninstall_string;
  std::string folder;
};

TEST(UninstallFolder, UnquotedCommandIsCutAfterItsLastBackslash) {
  const FolderCase cases[] = {
      {"program in a folder", "C:\\Games\\Kestrane\\unins000.exe", "C:\\Games\\Kestrane\\"},
      {"short path", "C:\\X\\u.exe", "C:\\X\\"},
      {"trailing backslash is not examined", "C:\\X\\Y\\", "C:\\X\\"},
      {"arguments with backslashes are not removed", "C:\\K\\u.exe /LOG=D:\\l\\x.txt",
       "C:\\K\\u.exe /LOG=D:\\l\\"},
      {"drive root", "C:\\u.exe", "C:\\"},
      {"backslash second to last", "ab\\c", "ab\\"},
      {"backslash first of two", "\\c", "\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UninstallFolder(Widen(c.uninstall_string)), Widen(c.folder)) << c.name;
  }
}

TEST(UninstallFolder, ValueWithoutABackslashBeforeItsLastCharacterHasNoFolder) {
  const FolderCase cases[] = {
      {"empty", "", ""},
      {"one character", "x", ""},
      {"one backslash", "\\", ""},
      {"no backslash", "unins000.exe", ""},
      {"backslash only as last character", "unins000\\", ""},
      {"blanks only", "   ", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UninstallFolder(Widen(c.uninstall_string)), Widen(c.folder)) << c.name;
  }
}

TEST(UninstallFolder, QuotedCommandGivesTheFolderInsideTheQuotes) {
  const FolderCase cases[] = {
      {"quoted program with an argument", "\"C:\\Games\\Kestrane\\unins000.exe\" /SILENT",
       "C:\\Games\\Kestrane\\"},
      {"quoted program alone", "\"C:\\Program Files\\Kestrane\\unins000.exe\"",
       "C:\\Program Files\\Kestrane\\"},
      {"argument with backslashes after the quotes", "\"C:\\K\\u.exe\" /LOG=\"D:\\l\\x.txt\"",
       "C:\\K\\"},
      {"blanks before the opening quote", "  \"C:\\K\\u.exe\" /S", "C:\\K\\"},
      {"no closing quote: the rest is the program", "\"C:\\Games\\Kestrane\\unins000.exe",
       "C:\\Games\\Kestrane\\"},
      {"quoted folder ending in a backslash", "\"C:\\X\\Y\\\"", "C:\\X\\"},
      {"empty quotes", "\"\" C:\\X\\u.exe", ""},
      {"lone quote", "\"", ""},
      {"quoted name without folder", "\"unins000.exe\" C:\\X\\", ""},
      {"quote not at the start is kept", "C:\\K\\\"u.exe\"", "C:\\K\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UninstallFolder(Widen(c.uninstall_string)), Widen(c.folder)) << c.name;
  }
}

TEST(UninstallFolder, VeryLongValuesAreCutWithoutReadingOutsideThem) {
  const std::string long_name(100000, 'a');
  const std::string long_folder = "C:\\" + std::string(100000, 'f') + "\\";
  const FolderCase cases[] = {
      {"100,000 characters without a backslash", long_name, ""},
      {"100,000 characters with the backslash at the start", "\\" + long_name, "\\"},
      {"long folder", long_folder + "u.exe", long_folder},
      {"long quoted folder", "\"" + long_folder + "u.exe\" /S", long_folder},
      {"long value ending in its only backslash", long_name + "\\", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UninstallFolder(Widen(c.uninstall_string)), Widen(c.folder)) << c.name;
  }
}

// The rules examine only the ASCII quote, blank and backslash units, so a folder named in any
// script is cut exactly as an ASCII one; a unit of another character that happens to share a
// byte with the backslash (U+045C, U+5C5C) is no backslash.
struct WideFolderCase {
  const char* name;
  std::u16string uninstall_string;
  std::u16string folder;
};

TEST(UninstallFolder, FoldersInAnyScriptAreCutByTheSameRules) {
  const WideFolderCase cases[] = {
      {"Cyrillic, unquoted", u"C:\\Игры\\Kestrane\\unins000.exe", u"C:\\Игры\\Kestrane\\"},
      {"Cyrillic, quoted", u"\"C:\\Игры\\Kestrane\\unins000.exe\" /SILENT",
       u"C:\\Игры\\Kestrane\\"},
      {"Greek", u"C:\\Παιχνίδια\\Kestrane\\unins000.exe", u"C:\\Παιχνίδια\\Kestrane\\"},
      {"Chinese, quoted, no closing quote", u"\"D:\\游戏\\凯斯特兰\\unins000.exe",
       u"D:\\游戏\\凯斯特兰\\"},
      {"Cyrillic program name, trailing backslash not examined", u"C:\\Игры\\Кестрейн\\",
       u"C:\\Игры\\"},
      {"a surrogate pair in the folder", u"E:\\\U0001F3AE\\u.exe", u"E:\\\U0001F3AE\\"},
      {"units sharing a byte with the backslash are letters", u"C:\\ќ\u5C5C\\u.exe",
       u"C:\\ќ\u5C5C\\"},
      {"a name ending in such a unit has no folder", u"ќ\u5C5Cu.exe", u""},
      {"a full-width quote opens nothing", u"\uFF02C:\\K\\u.exe\uFF02 /S", u"\uFF02C:\\K\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UninstallFolder(c.uninstall_string), c.folder) << c.name;
  }
}

}  // namespace
}  // namespace kestrane
