#include "environment/environment_discovery.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "report_capture.h"
#include "startup/message_text.h"
#include "widen.h"
#include "startup/errors.h"

namespace kestrane {
namespace {

const char kMachineVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kPlainKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrane";
const char kMirrorKey[] =
    "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrane";
// A value stored with this text reads as a value of another type.
const char kNotAText[] = "<REG_DWORD>";

using ValueName = std::tuple<RegistryRoot, std::string, std::string>;

// A machine described by its values; records every registry read in order.
class FakeReads : public EnvironmentReads {
 public:
  std::map<ValueName, std::string> values;
  std::string system_folder = "C:\\Windows\\system32";
  std::string windows_folder = "C:\\Windows";
  std::string temp = "C:\\Temp";
  bool admin = true;
  bool nt = true;
  std::vector<std::string> read;  // "<key>|<name>" of each registry read

  std::string SystemFolder() override { return system_folder; }
  std::string WindowsFolder() override { return windows_folder; }
  std::optional<std::string> ReadText(RegistryRoot root, const std::string& key,
                                      const std::string& name) override {
    read.push_back(key + "|" + name);
    const auto found = values.find({root, key, name});
    if (found == values.end()) return std::nullopt;
    if (found->second == kNotAText) throw RegistryError("Invalid data type for '" + name + "'");
    return found->second;
  }
  // Values are kept in UTF-8; the wide read gives them in UTF-16, as the registry's wide
  // functions would, and is recorded apart from the narrow reads.
  std::optional<std::u16string> ReadWideText(RegistryRoot root, const std::string& key,
                                             const std::string& name) override {
    wide_read.push_back(key + "|" + name);
    read.push_back(key + "|" + name);
    const auto found = values.find({root, key, name});
    if (found == values.end()) return std::nullopt;
    if (found->second == kNotAText) throw RegistryError("Invalid data type for '" + name + "'");
    return Utf16FromUtf8(found->second);
  }
  std::vector<std::string> wide_read;  // "<key>|<name>" of each wide read
  bool IsAdmin() override { return admin; }
  std::string TempVariable() override { return temp; }
  bool IsNtPlatform() override { return nt; }

  void Machine(const std::string& key, const std::string& name, const std::string& value) {
    values[{RegistryRoot::kLocalMachine, key, name}] = value;
  }
  void User(const std::string& name, const std::string& value) {
    values[{RegistryRoot::kCurrentUser, kShellFolders, name}] = value;
  }
};

// A typical 64-bit machine without any registration of the host.
FakeReads TypicalMachine() {
  FakeReads reads;
  reads.Machine(kMachineVersion, "ProgramFilesDir", "C:\\Program Files");
  reads.Machine(kShellFolders, "Common Desktop", "C:\\Users\\Public\\Desktop");
  reads.Machine(kShellFolders, "Common Programs", "C:\\ProgramData\\Start Menu\\Programs");
  reads.User("Programs", "C:\\Users\\ann\\Start Menu\\Programs");
  reads.User("Desktop", "C:\\Users\\ann\\Desktop");
  reads.User("Startup", "C:\\Users\\ann\\Start Menu\\Programs\\Startup");
  return reads;
}

InstallEnvironment Resolve(FakeReads& reads, bool* resolved = nullptr) {
  InstallEnvironment env;
  const bool ok = ResolveEnvironment(reads, "Kestrane", &env);
  if (resolved != nullptr) *resolved = ok;
  return env;
}

TEST(EnvironmentRules, TheInstallFolderComesFromTheRegistrationTheMirrorOnlyWithoutOne) {
  const struct {
    const char* name;
    const char* plain;   // UninstallString under the plain key, or nullptr
    const char* mirror;  // UninstallString under the WOW6432Node mirror, or nullptr
    const char* program_files;
    std::string install_dir;
    std::string registration_key;
  } cases[] = {
      {"registered in the 64-bit view", "C:\\Games64\\Kestrane\\unins000.exe", nullptr,
       "C:\\Program Files", "C:\\Games64\\Kestrane\\", kPlainKey},
      {"registered only in the mirror", nullptr, "\"C:\\Games32\\Kestrane\\unins000.exe\" /SILENT",
       "C:\\Program Files", "C:\\Games32\\Kestrane\\", kMirrorKey},
      {"both: the 64-bit view wins", "C:\\Games64\\Kestrane\\unins000.exe",
       "C:\\Games32\\Kestrane\\unins000.exe", "C:\\Program Files", "C:\\Games64\\Kestrane\\",
       kPlainKey},
      {"a registration without a folder", "unins000.exe", nullptr, "C:\\Program Files", "",
       kPlainKey},
      {"no registration: Program Files + the program", nullptr, nullptr, "C:\\Program Files",
       "C:\\Program Files\\Kestrane\\", ""},
      {"no registration and no Program Files", nullptr, nullptr, nullptr, "Kestrane\\", ""},
  };
  for (const auto& c : cases) {
    FakeReads reads = TypicalMachine();
    reads.values.erase({RegistryRoot::kLocalMachine, kMachineVersion, "ProgramFilesDir"});
    if (c.program_files != nullptr)
      reads.Machine(kMachineVersion, "ProgramFilesDir", c.program_files);
    if (c.plain != nullptr) reads.Machine(kPlainKey, "UninstallString", c.plain);
    if (c.mirror != nullptr) reads.Machine(kMirrorKey, "UninstallString", c.mirror);
    bool resolved = false;
    const InstallEnvironment env = Resolve(reads, &resolved);
    EXPECT_TRUE(resolved) << c.name;
    EXPECT_EQ(env.InstallDir, Widen(c.install_dir)) << c.name;
    EXPECT_EQ(env.RegistrationKey, c.registration_key) << c.name;
    const bool mirror_read = reads.read.back() == std::string(kMirrorKey) + "|UninstallString";
    EXPECT_EQ(mirror_read, c.plain == nullptr) << c.name << ": the mirror is read only without "
                                               << "a registration in the 64-bit view";
  }
}

TEST(EnvironmentRules, TheProgramsRootIsTheMachinesOnNtAndTheUsersOtherwise) {
  const std::string common = "C:\\ProgramData\\Start Menu\\Programs\\";
  const std::string user = "C:\\Users\\ann\\Start Menu\\Programs\\";
  const struct {
    const char* name;
    bool nt;
    std::optional<std::string> common_programs;
    std::string programs_root;
  } cases[] = {
      {"NT with Common Programs", true, "C:\\ProgramData\\Start Menu\\Programs", common},
      {"NT without Common Programs", true, std::nullopt, user},
      {"NT with an empty Common Programs", true, "", user},
      {"a one-letter Common Programs is kept", true, "X", "X\\"},
      {"the 95 family never reads it", false, "C:\\ProgramData\\Start Menu\\Programs", user},
  };
  for (const auto& c : cases) {
    FakeReads reads = TypicalMachine();
    reads.nt = c.nt;
    reads.values.erase({RegistryRoot::kLocalMachine, kShellFolders, "Common Programs"});
    if (c.common_programs) reads.Machine(kShellFolders, "Common Programs", *c.common_programs);
    const InstallEnvironment env = Resolve(reads);
    EXPECT_EQ(env.ProgramsRoot, c.programs_root) << c.name;
    EXPECT_EQ(env.UserPrograms, user) << c.name;
  }
}

TEST(EnvironmentRules, EveryFolderEndsWithABackslashAndAMissingOneStaysEmpty) {
  FakeReads reads = TypicalMachine();
  reads.temp = "";
  reads.values.erase({RegistryRoot::kCurrentUser, kShellFolders, "Startup"});
  reads.admin = false;
  const InstallEnvironment env = Resolve(reads);
  EXPECT_EQ(env.SystemDir, "C:\\Windows\\system32\\");
  EXPECT_EQ(env.WindowsDir, "C:\\Windows\\");
  EXPECT_EQ(env.ProgramFilesDir, u"C:\\Program Files\\");
  EXPECT_EQ(env.CommonDesktop, "C:\\Users\\Public\\Desktop\\");
  EXPECT_EQ(env.UserDesktop, "C:\\Users\\ann\\Desktop\\");
  EXPECT_EQ(env.TempDir, "");
  EXPECT_EQ(env.UserStartup, "");
  EXPECT_EQ(env.UninstallKey, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
  EXPECT_FALSE(env.IsAdmin);
}

TEST(EnvironmentRules, AnUnreadableUserShellFolderIsReportedAndStopsBeforeTheRegistration) {
  for (const char* name : {"Programs", "Desktop", "Startup"}) {
    g_reportCapture.Clear();
    FakeReads reads = TypicalMachine();
    reads.User(name, kNotAText);
    reads.Machine(kPlainKey, "UninstallString", "C:\\Games64\\Kestrane\\unins000.exe");
    bool resolved = true;
    const InstallEnvironment env = Resolve(reads, &resolved);
    EXPECT_FALSE(resolved) << name;
    EXPECT_EQ(env.InstallDir, u"") << name;
    EXPECT_EQ(env.UninstallKey, "") << name;
    EXPECT_EQ(reads.read.back(), std::string(kShellFolders) + "|" + name);
    ASSERT_EQ(g_reportCapture.messages.size(), 1u) << name;
    EXPECT_EQ(g_reportCapture.messages[0].english_or_text, "No access to system registry");
  }
  g_reportCapture.Clear();
}

TEST(EnvironmentRules, AnyOtherValueOfAnotherTypeEscapes) {
  const struct {
    const char* key;
    const char* name;
  } cases[] = {
      {kMachineVersion, "ProgramFilesDir"},
      {kShellFolders, "Common Desktop"},
      {kShellFolders, "Common Programs"},
      {kPlainKey, "UninstallString"},
  };
  for (const auto& c : cases) {
    g_reportCapture.Clear();
    FakeReads reads = TypicalMachine();
    reads.Machine(c.key, c.name, kNotAText);
    InstallEnvironment env;
    EXPECT_THROW(ResolveEnvironment(reads, "Kestrane", &env), RegistryError) << c.name;
    EXPECT_TRUE(g_reportCapture.messages.empty()) << c.name;
  }
}

// Kestrane installed by a Unicode installer in a folder whose name no single ANSI code page
// holds: the folder keeps every character, by the same quoted and unquoted rules.
TEST(EnvironmentRules, AFolderNamedInAnyScriptKeepsEveryCharacter) {
  const struct {
    const char* name;
    const char* plain;  // in UTF-8, as the fake keeps its values
    const char* mirror;
    std::u16string install_dir;
  } cases[] = {
      {"Cyrillic, unquoted", u8"C:\\Игры\\Kestrane\\unins000.exe", nullptr,
       u"C:\\Игры\\Kestrane\\"},
      {"Cyrillic, quoted with an argument", u8"\"C:\\Игры\\Kestrane\\unins000.exe\" /SILENT",
       nullptr, u"C:\\Игры\\Kestrane\\"},
      {"Cyrillic, only in the mirror", nullptr, u8"\"C:\\Игры\\Kestrane\\unins000.exe\"",
       u"C:\\Игры\\Kestrane\\"},
      {"Greek", u8"C:\\Παιχνίδια\\Kestrane\\unins000.exe", nullptr, u"C:\\Παιχνίδια\\Kestrane\\"},
      {"Chinese", u8"\"D:\\游戏\\Kestrane\\unins000.exe\"", nullptr, u"D:\\游戏\\Kestrane\\"},
      {"outside the 16-bit range", u8"E:\\\U0001F3AE\\Kestrane\\u.exe", nullptr,
       u"E:\\\U0001F3AE\\Kestrane\\"},
  };
  for (const auto& c : cases) {
    FakeReads reads = TypicalMachine();
    if (c.plain != nullptr) reads.Machine(kPlainKey, "UninstallString", c.plain);
    if (c.mirror != nullptr) reads.Machine(kMirrorKey, "UninstallString", c.mirror);
    const InstallEnvironment env = Resolve(reads);
    EXPECT_EQ(env.InstallDir, c.install_dir) << c.name;
    EXPECT_EQ(env.RegistrationKey, c.plain != nullptr ? kPlainKey : kMirrorKey) << c.name;
  }
}

TEST(EnvironmentRules, TheInstallFolderIsReadOnlyThroughTheWideReads) {
  FakeReads reads = TypicalMachine();
  reads.Machine(kPlainKey, "UninstallString", u8"C:\\Игры\\Kestrane\\unins000.exe");
  Resolve(reads);
  const std::vector<std::string> wide = {std::string(kMachineVersion) + "|ProgramFilesDir",
                                         std::string(kPlainKey) + "|UninstallString"};
  EXPECT_EQ(reads.wide_read, wide);
}

TEST(EnvironmentRules, WithoutARegistrationTheProgramFilesFolderKeepsEveryCharacter) {
  FakeReads reads = TypicalMachine();
  reads.Machine(kMachineVersion, "ProgramFilesDir", u8"C:\\Программы");
  const InstallEnvironment env = Resolve(reads);
  EXPECT_EQ(env.ProgramFilesDir, u"C:\\Программы\\");
  EXPECT_EQ(env.InstallDir, u"C:\\Программы\\Kestrane\\");
}

}  // namespace
}  // namespace kestrane
