#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "environment/install_environment.h"
#include "startup/errors.h"
#include "startup/registry_win.h"
#include "startup/startup_settings.h"
#include "support/box_answerer.h"
#include "support/test_registry.h"
#include "update/package_info.h"

namespace kestrane {
namespace {

// A program name of its own, so that no real Kestrane registration in the prefix is touched.
const char kTestProgram[] = "KestraneDiscoveryTest";
const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const std::string kPlainKey =
    std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kTestProgram;
const std::string kMirrorKey =
    std::string("Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
    kTestProgram;

class EnvironmentDiscovery : public testing::Test {
 protected:
  void SetUp() override {
    registry_ = std::make_unique<RegistryHandle>(kTestRegistryAccess);
    saved_registry_ = g_startupSettings.Registry;
    saved_program_ = g_packageInfo.ProgramName;
    g_startupSettings.Registry = registry_.get();
    g_packageInfo.ProgramName = kTestProgram;
    g_packageInfo.TitleEnglish = "Discovery test";
    g_installEnvironment = InstallEnvironment();
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, kPlainKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, kMirrorKey));
  }
  void TearDown() override {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kPlainKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kMirrorKey);
    g_startupSettings.Registry = saved_registry_;
    g_packageInfo.ProgramName = saved_program_;
  }

  std::unique_ptr<RegistryHandle> registry_;
  RegistryHandle* saved_registry_ = nullptr;
  std::string saved_program_;
};

TEST_F(EnvironmentDiscovery, RegistrationOnlyUnderWow6432NodeIsFound) {
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kMirrorKey, "UninstallString",
                             "C:\\Games32\\Kestrane\\unins000.exe"));
  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPlainKey)) << "the 64-bit view keeps them apart";

  ASSERT_TRUE(DiscoverEnvironment());
  EXPECT_EQ(g_installEnvironment.InstallDir, "C:\\Games32\\Kestrane\\");
  EXPECT_EQ(g_installEnvironment.RegistrationKey, kMirrorKey);
  EXPECT_EQ(g_installEnvironment.UninstallKey,
            "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\")
      << "the uninstall key itself keeps its plain path";
}

TEST_F(EnvironmentDiscovery, PlainRegistrationWinsOverTheMirror) {
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kPlainKey, "UninstallString",
                             "C:\\Games64\\Kestrane\\unins000.exe"));
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kMirrorKey, "UninstallString",
                             "C:\\Games32\\Kestrane\\unins000.exe"));

  ASSERT_TRUE(DiscoverEnvironment());
  EXPECT_EQ(g_installEnvironment.InstallDir, "C:\\Games64\\Kestrane\\");
  EXPECT_EQ(g_installEnvironment.RegistrationKey, kPlainKey);
}

TEST_F(EnvironmentDiscovery, PlainRegistrationWinsEvenWhenTheMirrorIsUnreadable) {
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kPlainKey, "UninstallString",
                             "C:\\Games64\\Kestrane\\unins000.exe"));
  ASSERT_TRUE(SetDwordValue(HKEY_LOCAL_MACHINE, kMirrorKey, "UninstallString", 7));

  ASSERT_TRUE(DiscoverEnvironment()) << "the mirror is not read at all";
  EXPECT_EQ(g_installEnvironment.InstallDir, "C:\\Games64\\Kestrane\\");
}

TEST_F(EnvironmentDiscovery, WithoutRegistrationTheProgramFilesFolderIsAssumed) {
  const std::string program_files =
      ReadStringValue(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir");
  ASSERT_FALSE(program_files.empty());

  ASSERT_TRUE(DiscoverEnvironment());
  EXPECT_EQ(g_installEnvironment.InstallDir, program_files + "\\" + kTestProgram + "\\");
  EXPECT_EQ(g_installEnvironment.ProgramFilesDir, program_files + "\\");
  EXPECT_EQ(g_installEnvironment.RegistrationKey, "");
}

TEST_F(EnvironmentDiscovery, RegistrationWithoutUninstallStringIsNoRegistration) {
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kPlainKey, "DisplayName", "Kestrane"));
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kMirrorKey, "UninstallString",
                             "C:\\Games32\\Kestrane\\unins000.exe"));

  ASSERT_TRUE(DiscoverEnvironment());
  EXPECT_EQ(g_installEnvironment.InstallDir, "C:\\Games32\\Kestrane\\");
  EXPECT_EQ(g_installEnvironment.RegistrationKey, kMirrorKey);
}

TEST_F(EnvironmentDiscovery, InstallFolderIsCutFromTheUninstallCommand) {
  const struct {
    const char* name;
    std::string uninstall_string;
    std::string install_dir;
  } cases[] = {
      {"plain command", "C:\\X\\u.exe", "C:\\X\\"},
      {"quoted command with argument", "\"C:\\Games\\Kestrane\\unins000.exe\" /SILENT",
       "C:\\Games\\Kestrane\\"},
      {"quoted folder with blanks", "\"C:\\Program Files\\Kestrane\\unins000.exe\"",
       "C:\\Program Files\\Kestrane\\"},
      {"trailing backslash is not examined", "C:\\X\\Y\\", "C:\\X\\"},
      {"no backslash: no folder", "unins000.exe", ""},
      {"empty value", "", ""},
      {"very long value", "C:\\" + std::string(4000, 'l') + "\\u.exe",
       "C:\\" + std::string(4000, 'l') + "\\"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(
        SetStringValue(HKEY_LOCAL_MACHINE, kPlainKey, "UninstallString", c.uninstall_string));
    ASSERT_TRUE(DiscoverEnvironment()) << c.name;
    EXPECT_EQ(g_installEnvironment.InstallDir, c.install_dir) << c.name;
    EXPECT_EQ(g_installEnvironment.RegistrationKey, kPlainKey) << c.name;
  }
}

TEST_F(EnvironmentDiscovery, UninstallStringOfAnotherTypeEscapesAsRegistryError) {
  ASSERT_TRUE(SetDwordValue(HKEY_LOCAL_MACHINE, kPlainKey, "UninstallString", 1));
  EXPECT_THROW(DiscoverEnvironment(), RegistryError);
  // The key was closed on the way out: the handle opens the next key as usual.
  registry_->SetRoot(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(registry_->OpenKey(kCurrentVersion, false));
  EXPECT_TRUE(registry_->ValueExists("ProgramFilesDir"));
  registry_->CloseKey();
}

TEST_F(EnvironmentDiscovery, FoldersAreReadAndEndWithABackslash) {
  ASSERT_TRUE(DiscoverEnvironment());
  const InstallEnvironment& env = g_installEnvironment;
  char system_dir[MAX_PATH + 1];
  UINT length = GetSystemDirectoryA(system_dir, sizeof system_dir);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(env.SystemDir, std::string(system_dir, length) + "\\");
  length = GetWindowsDirectoryA(system_dir, sizeof system_dir);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(env.WindowsDir, std::string(system_dir, length) + "\\");
  EXPECT_EQ(env.UserPrograms, ReadStringValue(HKEY_CURRENT_USER, kShellFolders, "Programs") + "\\");
  EXPECT_EQ(env.UserDesktop, ReadStringValue(HKEY_CURRENT_USER, kShellFolders, "Desktop") + "\\");
  EXPECT_EQ(env.CommonDesktop,
            ReadStringValue(HKEY_LOCAL_MACHINE, kShellFolders, "Common Desktop") + "\\");
  for (const std::string* folder :
       {&env.SystemDir, &env.WindowsDir, &env.ProgramFilesDir, &env.TempDir, &env.CommonDesktop,
        &env.ProgramsRoot, &env.UserPrograms, &env.UserDesktop, &env.UserStartup, &env.UninstallKey,
        &env.InstallDir}) {
    ASSERT_FALSE(folder->empty());
    EXPECT_EQ(folder->back(), '\\') << *folder;
  }
}

TEST_F(EnvironmentDiscovery, MissingCommonProgramsFallsBackToTheUsersPrograms) {
  SavedValue common_programs(HKEY_LOCAL_MACHINE, kShellFolders, "Common Programs");
  ASSERT_TRUE(common_programs.Delete());
  ASSERT_TRUE(DiscoverEnvironment());
  EXPECT_FALSE(g_installEnvironment.UserPrograms.empty());
  EXPECT_EQ(g_installEnvironment.ProgramsRoot, g_installEnvironment.UserPrograms);
}

TEST_F(EnvironmentDiscovery, UnreadableUserShellFolderIsReportedAndStopsDiscovery) {
  SavedValue startup(HKEY_CURRENT_USER, kShellFolders, "Startup");
  ASSERT_TRUE(SetDwordValue(HKEY_CURRENT_USER, kShellFolders, "Startup", 5));
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kPlainKey, "UninstallString",
                             "C:\\Games64\\Kestrane\\unins000.exe"));
  g_packageInfo.TitleRussian = "Проверка";
  const struct {
    bool russian;
    std::wstring text;
    std::wstring caption;
  } cases[] = {
      {false, L"No access to system registry", L"Discovery test"},
      {true, L"Нет доступа к системному реестру", L"Проверка"},
  };
  for (const auto& c : cases) {
    g_startupSettings.RussianUI = c.russian;
    g_installEnvironment = InstallEnvironment();
    std::vector<AnsweredBox> boxes;
    bool discovered = true;
    {
      BoxAnswerer answerer;
      discovered = DiscoverEnvironment();
      boxes = answerer.Boxes();
    }
    EXPECT_FALSE(discovered) << c.russian;
    EXPECT_EQ(g_installEnvironment.InstallDir, "") << "discovery stopped before the uninstall key";
    if (BoxesCanBeRead()) {
      EXPECT_EQ(boxes.size(), 1u) << c.russian;
      if (boxes.size() != 1) continue;
      EXPECT_EQ(boxes[0].text, c.text);
      EXPECT_EQ(boxes[0].caption, c.caption);
    }
  }
  g_startupSettings.RussianUI = false;
  // Without an X display no box can be shown or read, so the texts above went unchecked.
  if (!BoxesCanBeRead()) GTEST_SKIP() << "no X display: the report's text was not read";
}

}  // namespace
}  // namespace kestrane
