#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "environment/environment_win.h"
#include "startup/errors.h"
#include "startup/registry_win.h"
#include "startup/startup_settings.h"
#include "support/box_answerer.h"
#include "support/held_target.h"
#include "support/test_registry.h"
#include "startup/messages.h"

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
    SetErrorTitles({"", "Discovery test"});
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, kPlainKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, kMirrorKey));
  }
  void TearDown() override {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kPlainKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kMirrorKey);
  }

  bool Discover() { return DiscoverEnvironment(*registry_, kTestProgram, &env_); }

  std::unique_ptr<RegistryHandle> registry_;
  InstallEnvironment env_;
};

TEST_F(EnvironmentDiscovery, RegistrationOnlyUnderWow6432NodeIsFound) {
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kMirrorKey, "UninstallString",
                             "C:\\Games32\\Kestrane\\unins000.exe"));
  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPlainKey)) << "the 64-bit view keeps them apart";

  ASSERT_TRUE(Discover());
  EXPECT_EQ(env_.InstallDir, u"C:\\Games32\\Kestrane\\");
  EXPECT_EQ(env_.RegistrationKey, kMirrorKey);
  EXPECT_EQ(env_.UninstallKey, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\")
      << "the uninstall key itself keeps its plain path";
}

TEST_F(EnvironmentDiscovery, PlainRegistrationWinsOverTheMirror) {
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kPlainKey, "UninstallString",
                             "C:\\Games64\\Kestrane\\unins000.exe"));
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kMirrorKey, "UninstallString",
                             "C:\\Games32\\Kestrane\\unins000.exe"));

  ASSERT_TRUE(Discover());
  EXPECT_EQ(env_.InstallDir, u"C:\\Games64\\Kestrane\\");
  EXPECT_EQ(env_.RegistrationKey, kPlainKey);
}

TEST_F(EnvironmentDiscovery, PlainRegistrationWinsEvenWhenTheMirrorIsUnreadable) {
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kPlainKey, "UninstallString",
                             "C:\\Games64\\Kestrane\\unins000.exe"));
  ASSERT_TRUE(SetDwordValue(HKEY_LOCAL_MACHINE, kMirrorKey, "UninstallString", 7));

  ASSERT_TRUE(Discover()) << "the mirror is not read at all";
  EXPECT_EQ(env_.InstallDir, u"C:\\Games64\\Kestrane\\");
}

TEST_F(EnvironmentDiscovery, WithoutRegistrationTheProgramFilesFolderIsAssumed) {
  const std::string program_files =
      ReadStringValue(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir");
  ASSERT_FALSE(program_files.empty());

  ASSERT_TRUE(Discover());
  EXPECT_EQ(env_.InstallDir, WideFromAnsi(program_files + "\\" + kTestProgram + "\\"));
  EXPECT_EQ(env_.ProgramFilesDir, WideFromAnsi(program_files + "\\"));
  EXPECT_EQ(env_.RegistrationKey, "");
}

TEST_F(EnvironmentDiscovery, RegistrationWithoutUninstallStringIsNoRegistration) {
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kPlainKey, "DisplayName", "Kestrane"));
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kMirrorKey, "UninstallString",
                             "C:\\Games32\\Kestrane\\unins000.exe"));

  ASSERT_TRUE(Discover());
  EXPECT_EQ(env_.InstallDir, u"C:\\Games32\\Kestrane\\");
  EXPECT_EQ(env_.RegistrationKey, kMirrorKey);
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
    ASSERT_TRUE(Discover()) << c.name;
    EXPECT_EQ(env_.InstallDir, WideFromAnsi(c.install_dir)) << c.name;
    EXPECT_EQ(env_.RegistrationKey, kPlainKey) << c.name;
  }
}

TEST_F(EnvironmentDiscovery, UninstallStringOfAnotherTypeEscapesAsRegistryError) {
  ASSERT_TRUE(SetDwordValue(HKEY_LOCAL_MACHINE, kPlainKey, "UninstallString", 1));
  EXPECT_THROW(Discover(), RegistryError);
  // The key was closed on the way out: the handle opens the next key as usual.
  registry_->SetRoot(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(registry_->OpenKey(kCurrentVersion, false));
  EXPECT_TRUE(registry_->ValueExists("ProgramFilesDir"));
  registry_->CloseKey();
}

TEST_F(EnvironmentDiscovery, FoldersAreReadAndEndWithABackslash) {
  ASSERT_TRUE(Discover());
  const InstallEnvironment& env = env_;
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
       {&env.SystemDir, &env.WindowsDir, &env.TempDir, &env.CommonDesktop, &env.ProgramsRoot,
        &env.UserPrograms, &env.UserDesktop, &env.UserStartup, &env.UninstallKey}) {
    ASSERT_FALSE(folder->empty());
    EXPECT_EQ(folder->back(), '\\') << *folder;
  }
  for (const std::u16string* folder : {&env.ProgramFilesDir, &env.InstallDir}) {
    ASSERT_FALSE(folder->empty());
    EXPECT_EQ(folder->back(), u'\\');
  }
}

TEST_F(EnvironmentDiscovery, MissingCommonProgramsFallsBackToTheUsersPrograms) {
  SavedValue common_programs(HKEY_LOCAL_MACHINE, kShellFolders, "Common Programs");
  ASSERT_TRUE(common_programs.Delete());
  ASSERT_TRUE(Discover());
  EXPECT_FALSE(env_.UserPrograms.empty());
  EXPECT_EQ(env_.ProgramsRoot, env_.UserPrograms);
}

TEST_F(EnvironmentDiscovery, UnreadableUserShellFolderIsReportedAndStopsDiscovery) {
  SavedValue startup(HKEY_CURRENT_USER, kShellFolders, "Startup");
  ASSERT_TRUE(SetDwordValue(HKEY_CURRENT_USER, kShellFolders, "Startup", 5));
  ASSERT_TRUE(SetStringValue(HKEY_LOCAL_MACHINE, kPlainKey, "UninstallString",
                             "C:\\Games64\\Kestrane\\unins000.exe"));
  SetErrorTitles({"Проверка", "Discovery test"});
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
    env_ = InstallEnvironment();
    std::vector<AnsweredBox> boxes;
    bool discovered = true;
    {
      BoxAnswerer answerer;
      discovered = Discover();
      boxes = answerer.Boxes();
    }
    EXPECT_FALSE(discovered) << c.russian;
    EXPECT_EQ(env_.InstallDir, u"") << "discovery stopped before the uninstall key";
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

// A Unicode installer registers through the wide functions; a name no ANSI code page holds
// (Cyrillic on an English system, Greek on a Russian one, Chinese on either) is read whole.
TEST_F(EnvironmentDiscovery, AFolderNamedInAnyScriptIsReadWhole) {
  const struct {
    const char* name;
    const std::string* key;
    std::wstring uninstall_string;
    std::u16string install_dir;
  } cases[] = {
      {"Cyrillic, quoted", &kPlainKey, L"\"C:\\Игры\\Kestrane\\unins000.exe\" /SILENT",
       u"C:\\Игры\\Kestrane\\"},
      {"Cyrillic, unquoted, only in the mirror", &kMirrorKey, L"C:\\Игры\\Kestrane\\unins000.exe",
       u"C:\\Игры\\Kestrane\\"},
      {"Greek", &kPlainKey, L"C:\\Παιχνίδια\\Kestrane\\unins000.exe", u"C:\\Παιχνίδια\\Kestrane\\"},
      {"Chinese", &kPlainKey, L"\"D:\\游戏\\Kestrane\\unins000.exe\"", u"D:\\游戏\\Kestrane\\"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, kPlainKey));
    ASSERT_TRUE(DeleteKeyTree(HKEY_LOCAL_MACHINE, kMirrorKey));
    HKEY key = nullptr;
    const std::wstring path(c.key->begin(), c.key->end());
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const auto size = static_cast<DWORD>((c.uninstall_string.size() + 1) * sizeof(wchar_t));
    const LONG set =
        RegSetValueExW(key, L"UninstallString", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(c.uninstall_string.c_str()), size);
    RegCloseKey(key);
    ASSERT_EQ(set, ERROR_SUCCESS) << c.name;
    ASSERT_TRUE(Discover()) << c.name;
    EXPECT_EQ(env_.InstallDir, c.install_dir) << c.name;
    EXPECT_EQ(env_.RegistrationKey, *c.key) << c.name;
  }
}

}  // namespace
}  // namespace kestrane
