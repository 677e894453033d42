#include "startup/system_module_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrane {
namespace {

struct NameCase {
  const char* name;
  bool bare;
};

TEST(IsBareDllName, OnlyAFileNameWithoutFolderOrDriveIsBare) {
  const NameCase cases[] = {
      {"version.dll", true},
      {"COMCTL32.DLL", true},
      {"version", true},
      {"", false},
      {".", false},
      {"..", false},
      {"C:\\Users\\me\\Downloads\\version.dll", false},
      {".\\version.dll", false},
      {"..\\version.dll", false},
      {"sub/version.dll", false},
      {"C:version.dll", false},
      {"version.dll:stream", false},
      {"\\\\server\\share\\version.dll", false},
  };
  for (const NameCase& c : cases) EXPECT_EQ(IsBareDllName(c.name), c.bare) << c.name;
}

struct FileCase {
  const char* why;
  const char* file;
  bool system;
};

const std::vector<std::string> kFolders = {"C:\\Windows\\system32", "C:\\Windows\\SysWOW64\\"};
const std::string kStore = "C:\\Windows\\WinSxS";

TEST(IsSystemModuleFile, FilesDirectlyInASystemFolderOrInTheStoreCount) {
  const FileCase cases[] = {
      {"system folder", "C:\\Windows\\system32\\version.dll", true},
      {"letters in another case", "c:\\WINDOWS\\SYSTEM32\\VERSION.DLL", true},
      {"32-bit twin", "C:\\Windows\\SysWOW64\\comctl32.dll", true},
      {"common controls 6 in the store",
       "C:\\Windows\\WinSxS\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0.19041."
       "1110_none_a8625c1886757984\\comctl32.dll",
       true},
  };
  for (const FileCase& c : cases) {
    EXPECT_EQ(IsSystemModuleFile(c.file, kFolders, kStore), c.system) << c.why;
  }
}

TEST(IsSystemModuleFile, PlantedAndLookAlikeFilesDoNotCount) {
  const FileCase cases[] = {
      {"beside a download", "C:\\Users\\me\\Downloads\\version.dll", false},
      {"Windows folder itself", "C:\\Windows\\version.dll", false},
      {"subfolder of the system folder", "C:\\Windows\\system32\\spool\\drivers\\version.dll",
       false},
      {"folder that only begins like the system folder", "C:\\Windows\\system32x\\version.dll",
       false},
      {"folder that only begins like the store", "C:\\Windows\\WinSxSx\\a\\comctl32.dll", false},
      {"the store's name as a file", "C:\\Windows\\WinSxS", false},
      {"the system folder's name alone", "C:\\Windows\\system32\\", false},
      {"dot-dot out of the system folder", "C:\\Windows\\system32\\..\\Temp\\version.dll", false},
      {"dot-dot out of the store", "C:\\Windows\\WinSxS\\..\\Temp\\comctl32.dll", false},
      {"dot segment", "C:\\Windows\\system32\\.\\version.dll", false},
      {"forward slashes", "C:/Windows/system32/version.dll", false},
      {"a stream of a system file", "C:\\Windows\\system32\\version.dll:evil", false},
      {"another drive", "D:\\Windows\\system32\\version.dll", false},
      {"empty", "", false},
  };
  for (const FileCase& c : cases) {
    EXPECT_EQ(IsSystemModuleFile(c.file, kFolders, kStore), c.system) << c.why;
  }
}

TEST(IsSystemModuleFile, UnknownFoldersVouchForNothing) {
  const std::vector<std::string> none = {"", ""};
  for (const char* file : {"C:\\Windows\\system32\\version.dll", "\\version.dll", "version.dll"}) {
    EXPECT_FALSE(IsSystemModuleFile(file, none, "")) << file;
    EXPECT_FALSE(IsSystemModuleFile(file, {}, "")) << file;
  }
}

}  // namespace
}  // namespace kestrane
