#include "update/update_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "startup/message_text.h"
#include "widen.h"

namespace kestrane {
namespace {

struct WordRow {
  std::string word;
  bool expected;
};

TEST(QuietMode, IsOnlyTheExactWordModest) {
  // The start-up step has lowered the first word already; anything else is a normal run.
  const WordRow rows[] = {
      {"modest", true}, {"", false},       {"modestly", false}, {"modest ", false},
      {"mode", false},  {"runapp", false}, {"/modest", false},
  };
  for (const WordRow& row : rows) {
    SCOPED_TRACE("\"" + row.word + "\"");
    EXPECT_EQ(IsQuietMode(row.word), row.expected);
  }
}

TEST(HostStartWord, IsRunappInAnyLetterCase) {
  const WordRow rows[] = {
      {"runapp", true}, {"RUNAPP", true},   {"RunApp", true},   {"", false},
      {"run", false},   {"runapp2", false}, {" runapp", false}, {"modest", false},
  };
  for (const WordRow& row : rows) {
    SCOPED_TRACE("\"" + row.word + "\"");
    EXPECT_EQ(WantsHostStart(row.word), row.expected);
  }
}

TEST(InstallFolder, MustBeAFullPathOnADriveOrShare) {
  const WordRow rows[] = {
      {"C:\\Games\\Kestrane\\", true},
      {"d:\\", true},
      {"\\\\server\\share\\Kestrane\\", true},
      {"", false},
      {"Kestrane\\", false},
      {"\\Kestrane\\", false},
      {"C:Kestrane\\", false},
      {"\"C:\\Games\\Kestrane\\", false},
      {"1:\\Games\\", false},
      {"\\\\\\", false},
  };
  for (const WordRow& row : rows) {
    SCOPED_TRACE("\"" + row.word + "\"");
    EXPECT_EQ(IsFullFolderPath(Widen(row.word)), row.expected);
  }
}

TEST(HostExecutable, IsTheProgramNameWithExe) {
  PackageInfo info;
  info.ProgramName = "Kestrane";
  EXPECT_EQ(HostExecutableName(info), "Kestrane.exe");
}

struct SizeKeyRow {
  const char* situation;
  std::string registration_key;
  std::string expected;
};

TEST(SizeRegistration, GoesWhereTheRegistrationWasFound) {
  const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  const std::string mirror =
      "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrane";
  const SizeKeyRow rows[] = {
      {"registered in the 64-bit view", uninstall + "Kestrane", uninstall + "Kestrane"},
      {"registered only in the 32-bit mirror", mirror, mirror},
      {"not registered at all", "", uninstall + "Kestrane"},
  };
  PackageInfo info;
  info.ProgramName = "Kestrane";
  for (const SizeKeyRow& row : rows) {
    SCOPED_TRACE(row.situation);
    InstallEnvironment environment;
    environment.UninstallKey = uninstall;
    environment.RegistrationKey = row.registration_key;
    EXPECT_EQ(SizeRegistrationKey(environment, info), row.expected);
  }
}

TEST(InstallFolder, AFullPathMayBeNamedInAnyScriptButItsDriveIsALatinLetter) {
  const struct {
    std::u16string folder;
    bool expected;
  } rows[] = {
      {u"C:\\Игры\\Kestrane\\", true}, {u"\\\\сервер\\общий\\", true},
      {u"D:\\游戏\\", true},           {u"Д:\\Игры\\", false},  // Cyrillic De is no drive letter
      {u"Ｃ:\\Games\\", false},                                 // nor is a full-width C
      {u"Игры\\Kestrane\\", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IsFullFolderPath(row.folder), row.expected) << Utf8FromUtf16(row.folder);
  }
}

TEST(InstallFolder, FilesOfThePackageAreNamedInsideItInFull) {
  InstallEnvironment environment;
  environment.InstallDir = u"C:\\Игры\\Kestrane\\";
  EXPECT_EQ(InstallDirFile(environment, "Kestrane.exe"), u"C:\\Игры\\Kestrane\\Kestrane.exe");
  // The package's own names are its code page 1251 text: "Кестрейн.exe".
  EXPECT_EQ(InstallDirFile(environment, "\xCA\xE5\xF1\xF2\xF0\xE5\xE9\xED.exe"),
            u"C:\\Игры\\Kestrane\\Кестрейн.exe");
}

}  // namespace
}  // namespace kestrane
