// The start-up context on a real (Wine) system: the output of the real command interpreter,
// the temporary file's life, the environment cases, the identification of the running
// Windows and the settled start-up record.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "startup/errors.h"
#include "startup/pseudo_random.h"
#include "startup/registry_win.h"
#include "startup/startup_settings.h"
#include "startup/startup_step.h"
#include "startup/windows_version_win.h"

namespace kestrane {
namespace {

// Sets (or, with nullptr, removes) an environment variable of this process and puts the old
// value back when it goes out of scope.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed > 0) {
      std::vector<char> buffer(needed);
      const DWORD got = GetEnvironmentVariableA(name, buffer.data(), needed);
      had_value_ = got < needed;
      if (had_value_) old_.assign(buffer.data(), got);
    }
    EXPECT_TRUE(SetEnvironmentVariableA(name, value) || value == nullptr) << name;
  }
  ~ScopedVariable() { SetEnvironmentVariableA(name_.c_str(), had_value_ ? old_.c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_value_ = false;
};

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// A fresh empty folder under the system's temp folder, removed with its files at the end.
class FreshFolder {
 public:
  FreshFolder() {
    char base[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof base, base);
    EXPECT_TRUE(length > 0 && length < sizeof base);
    static int counter = 0;
    path_ = AddBackslash(std::string(base, length)) + "startup_test_" +
            std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) + "\\";
    EXPECT_TRUE(CreateDirectoryA(path_.c_str(), nullptr)) << path_;
  }
  ~FreshFolder() {
    for (const std::string& name : FilesIn(path_)) DeleteFileA((path_ + name).c_str());
    RemoveDirectoryA(path_.c_str());
  }
  const std::string& path() const { return path_; }
  // Without the final backslash, as an environment variable usually holds a folder.
  std::string bare() const { return path_.substr(0, path_.size() - 1); }

 private:
  std::string path_;
};

class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::string& folder) {
    char old[MAX_PATH + 1];
    const DWORD length = GetCurrentDirectoryA(sizeof old, old);
    EXPECT_TRUE(length > 0 && length < sizeof old);
    old_.assign(old, length);
    EXPECT_TRUE(SetCurrentDirectoryA(folder.c_str())) << folder;
  }
  ~ScopedCurrentFolder() { SetCurrentDirectoryA(old_.c_str()); }

 private:
  std::string old_;
};

// Makes Wine report another Windows version to one program (by its file name); a setting
// that was there before comes back at the end. Wine reads the setting when the program starts.
class ScopedWineVersion {
 public:
  ScopedWineVersion(const std::string& program, const char* version)
      : key_path_("Software\\Wine\\AppDefaults\\" + program) {
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_path_.c_str(), 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, &disposition),
              ERROR_SUCCESS);
    if (key_ == nullptr) return;
    created_ = disposition == REG_CREATED_NEW_KEY;
    char old[256] = {};
    DWORD size = sizeof old - 1;
    DWORD type = 0;
    had_value_ = RegQueryValueExA(key_, "Version", nullptr, &type, reinterpret_cast<BYTE*>(old),
                                  &size) == ERROR_SUCCESS &&
                 type == REG_SZ;
    if (had_value_) old_ = old;
    EXPECT_EQ(Set(version), ERROR_SUCCESS);
  }
  ~ScopedWineVersion() {
    if (key_ == nullptr) return;
    if (had_value_) {
      Set(old_.c_str());
    } else {
      RegDeleteValueA(key_, "Version");
    }
    RegCloseKey(key_);
    if (created_) RegDeleteKeyA(HKEY_CURRENT_USER, key_path_.c_str());
  }
  ScopedWineVersion(const ScopedWineVersion&) = delete;
  ScopedWineVersion& operator=(const ScopedWineVersion&) = delete;

 private:
  LONG Set(const char* version) {
    return RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                          static_cast<DWORD>(std::strlen(version) + 1));
  }

  std::string key_path_;
  HKEY key_ = nullptr;
  bool created_ = false;
  bool had_value_ = false;
  std::string old_;
};

std::string SystemFolder() {
  char folder[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  EXPECT_TRUE(length > 0 && length < MAX_PATH);
  return AddBackslash(std::string(folder, length));
}

std::string ThisFolder() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  EXPECT_TRUE(length > 0 && length < MAX_PATH);
  std::string text(path, length);
  return text.substr(0, text.find_last_of('\\') + 1);
}

// Runs a program with its standard output in a pipe and returns what it printed.
std::string RunAndRead(const std::string& command_line, DWORD* exit_code) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return "<no pipe>";
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');
  const BOOL started = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(write_end);
  std::string printed;
  if (started) {
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0) {
      printed.append(chunk, got);
    }
    WaitForSingleObject(process.hProcess, 30000);
    GetExitCodeProcess(process.hProcess, exit_code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(read_end);
  return started ? printed : "<not started>";
}

std::string ProductNameInRegistry() {
  RegistryHandle registry(kAllAccess64BitView);
  registry.SetRoot(HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(registry.OpenKey("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", false));
  return registry.ReadString("ProductName");
}

std::string VersionOfThisProcess() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  EXPECT_TRUE(GetVersionExA(&version));
  return std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
         "." + std::to_string(version.dwBuildNumber & 0xFFFF);
}

// The version Wine's interpreter prints: cmd.exe declares Windows 10 support in its manifest,
// so it is told the system's own version. This test program declares none and is told 6.2 by
// GetVersionEx on Windows 8 and later; RtlGetVersion leaves that compatibility answer out.
std::string VersionTheInterpreterIsTold() {
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto rtl_get_version = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  EXPECT_TRUE(rtl_get_version != nullptr && rtl_get_version(&version) == 0);
  return std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
         "." + std::to_string(version.dwBuildNumber & 0xFFFF);
}

bool IsEightLetterName(const std::string& name) {
  if (name.size() != 8) return false;
  for (char c : name) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

TEST(CaptureConsoleOutput, ReturnsTheLinesVerPrinted) {
  // Wine's interpreter prints an empty line, then the version without brackets.
  EXPECT_EQ(CaptureConsoleOutput("ver"),
            "\r\nMicrosoft Windows " + VersionTheInterpreterIsTold() + "\r\n");
}

TEST(CaptureConsoleOutput, TheOutputFileHasAnEightLetterNameInTempAndIsGoneAfterwards) {
  FreshFolder temp;
  ScopedVariable variable("Temp", temp.bare().c_str());
  // The redirection makes the file before "dir" runs, so the listing names it.
  const std::string listed = CaptureConsoleOutput("dir /b \"" + temp.path() + "\"");
  ASSERT_EQ(listed.size(), 10u) << listed;
  EXPECT_TRUE(IsEightLetterName(listed.substr(0, 8))) << listed;
  EXPECT_EQ(listed.substr(8), "\r\n");
  EXPECT_TRUE(FilesIn(temp.path()).empty());
}

TEST(CaptureConsoleOutput, WithoutTempTheFileIsMadeInTheCurrentFolder) {
  FreshFolder current;
  ScopedCurrentFolder in_it(current.path());
  ScopedVariable variable("Temp", nullptr);
  const std::string listed = CaptureConsoleOutput("dir /b");
  ASSERT_EQ(listed.size(), 10u) << listed;
  EXPECT_TRUE(IsEightLetterName(listed.substr(0, 8))) << listed;
  EXPECT_TRUE(FilesIn(current.path()).empty());
}

TEST(CaptureConsoleOutput, NamesDifferFromCallToCall) {
  FreshFolder temp;
  ScopedVariable variable("Temp", temp.bare().c_str());
  const std::string command = "dir /b \"" + temp.path() + "\"";
  EXPECT_NE(CaptureConsoleOutput(command), CaptureConsoleOutput(command));
}

TEST(CaptureConsoleOutput, ComSpecDecidesWhetherAnythingRuns) {
  const std::string cmd = SystemFolder() + "cmd.exe";
  // Padding with ".\" (and one "x\..\" for an odd count) keeps the path valid at any length.
  auto padded = [&](size_t length) {
    std::string pad = (length - cmd.size()) % 2 != 0 ? "x\\..\\" : "";
    while (cmd.size() + pad.size() < length) pad += ".\\";
    const std::string path = SystemFolder() + pad + "cmd.exe";
    EXPECT_EQ(path.size(), length);
    return path;
  };
  const std::string ver = "\r\nMicrosoft Windows " + VersionTheInterpreterIsTold() + "\r\n";
  const struct {
    const char* label;
    std::string comspec;  // empty: unset
    std::string output;
  } cases[] = {
      {"the real interpreter", cmd, ver},
      {"unset", "", ""},
      {"259 characters fit the buffer", padded(259), ver},
      {"260 characters do not", padded(260), ""},
      {"261 characters do not", padded(261), ""},
      {"an interpreter that cannot start", "C:\\no\\such\\folder\\cmd.exe", "\r\n"},
  };
  for (const auto& c : cases) {
    FreshFolder temp;
    ScopedVariable temp_variable("Temp", temp.bare().c_str());
    ScopedVariable comspec("ComSpec", c.comspec.empty() ? nullptr : c.comspec.c_str());
    EXPECT_EQ(CaptureConsoleOutput("ver"), c.output) << c.label;
    EXPECT_TRUE(FilesIn(temp.path()).empty()) << c.label;
  }
}

TEST(CaptureConsoleOutput, ConvertsFromTheOemToTheAnsiCodePage) {
  FreshFolder folder;
  // Every byte above 127 that is not a line end, as the interpreter would print it.
  std::string oem;
  for (int c = 0x80; c <= 0xFF; ++c) oem.push_back(static_cast<char>(c));
  const std::string file = folder.path() + "oem.txt";
  std::FILE* f = std::fopen(file.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(oem.data(), 1, oem.size(), f);
  std::fclose(f);

  // The expected text goes the other way round: OEM to UTF-16 to ANSI.
  std::wstring wide(oem.size(), L'\0');
  ASSERT_EQ(MultiByteToWideChar(CP_OEMCP, 0, oem.data(), static_cast<int>(oem.size()), &wide[0],
                                static_cast<int>(wide.size())),
            static_cast<int>(oem.size()));
  std::string ansi(oem.size(), '\0');
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &ansi[0],
                                static_cast<int>(ansi.size()), nullptr, nullptr),
            static_cast<int>(ansi.size()));
  ASSERT_NE(ansi, oem) << "the code pages do not differ here";

  const std::string printed = CaptureConsoleOutput("type \"" + file + "\"");
  EXPECT_EQ(printed, ansi + "\r\n");
}

// ---------------------------------------------------------------------------------------------

TEST(WindowsIdentification, WineIsA64BitWindowsNamedByItsProductName) {
  WindowsIdentity identity;
  ASSERT_TRUE(IdentifyWindows(&identity));
  EXPECT_EQ(identity.SystemName, ProductNameInRegistry() + " 64-bit");
  EXPECT_EQ(identity.VersionNumber, VersionOfThisProcess());

  g_startupSettings.Is64Bit = false;
  const std::string short_form = WindowsDisplayName(false);
  EXPECT_TRUE(g_startupSettings.Is64Bit) << short_form;
  EXPECT_EQ(short_form.compare(0, identity.SystemName.size(), identity.SystemName), 0);
}

// The real line of Wine's interpreter when it reports 6.2, read as the identification reads a
// system reported as 6.2 whose product name cannot be read.
TEST(WindowsIdentification, WinesVerLineFor62NamesWindows8) {
  ScopedWineVersion win8("cmd.exe", "win8");
  const std::string ver = CaptureConsoleOutput("ver");
  ASSERT_EQ(ver, "\r\nMicrosoft Windows 6.2.9200\r\n");

  class RealVerNoProductName : public SystemQueries {
   public:
    explicit RealVerNoProductName(std::string ver) : ver_(std::move(ver)) {}
    std::string ConsoleOutput(const std::string& command) override {
      ++runs;
      return ver_;
    }
    ProductNameAnswer ReadProductName() override { return {}; }
    int runs = 0;

   private:
    std::string ver_;
  } queries(ver);

  PlatformFacts facts = ReadPlatformFacts();
  facts.Version.MajorVersion = 6;
  facts.Version.MinorVersion = 2;
  facts.Version.BuildNumber = 9200;
  facts.Version.ProductType = 1;
  WindowsIdentity identity;
  ASSERT_TRUE(IdentifyWindows(facts, queries, &identity));
  EXPECT_EQ(identity.SystemName, "Microsoft Windows 8  64-bit");
  EXPECT_EQ(identity.VersionNumber, "6.2.9200");
  EXPECT_EQ(queries.runs, 1);
}

// ---------------------------------------------------------------------------------------------

TEST(StartupStep, SettlesA64BitRegistryViewUnderWine) {
  g_startupSettings = StartupSettings();
  RunStartupStep();
  EXPECT_TRUE(g_startupSettings.Is64Bit);
  ASSERT_NE(g_startupSettings.Registry, nullptr);
  EXPECT_EQ(g_startupSettings.Registry->Access(), static_cast<REGSAM>(0xF013F));
  RegistryHandle& registry = *g_startupSettings.Registry;
  registry.SetRoot(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(registry.OpenKey("Software\\Microsoft\\Windows\\CurrentVersion", false));
  // The 64-bit view, not the WOW6432Node mirror with its "Program Files (x86)".
  EXPECT_EQ(registry.ReadString("ProgramFilesDir"), "C:\\Program Files");
  registry.CloseKey();
}

// A 32-bit process on 64-bit Windows sees HKLM\Software through the WOW6432Node mirror
// unless it asks for the 64-bit view: two different values under one path tell which view a
// handle reads. A 64-bit process reads the 64-bit view with or without the flag, so there
// the test could not fail.
TEST(StartupStep, TheRegistryHandleReadsThe64BitViewAlsoInA32BitProcess) {
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  if (!wow64) GTEST_SKIP() << "only a 32-bit process on 64-bit Windows has a second view";
  const char kKey[] = "Software\\KestraneViewTest";
  struct View {
    REGSAM flag;
    const char* value;
  };
  for (const View& view : {View{KEY_WOW64_64KEY, "64-bit view"}, View{KEY_WOW64_32KEY, "mirror"}}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | view.flag,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "View", 0, REG_SZ, reinterpret_cast<const BYTE*>(view.value),
                   static_cast<DWORD>(std::strlen(view.value) + 1));
    RegCloseKey(key);
  }
  const auto read = [&](REGSAM access) {
    RegistryHandle registry(access);
    registry.SetRoot(HKEY_LOCAL_MACHINE);
    return registry.OpenKey(kKey, false) && registry.ValueExists("View")
               ? registry.ReadString("View")
               : std::string("<missing>");
  };
  const std::string with_flag = read(kAllAccess64BitView);
  const std::string without_flag = read(KEY_ALL_ACCESS);
  for (REGSAM flag : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kKey, flag, 0);
  }
  EXPECT_EQ(with_flag, "64-bit view");
  EXPECT_EQ(without_flag, "mirror");
}

TEST(StartupStep, FirstArgIsTheFirstArgumentLowerCased) {
  const std::string probe = "\"" + ThisFolder() + "startup_probe.exe\"";
  const struct {
    const char* arguments;
    const char* first_arg;
  } cases[] = {
      {"", ""},
      {" MODEST runapp", "modest"},
      {" RunApp MODEST", "runapp"},
      {" \"Two WORDS\" x", "two words"},
      {" *.EXE", "*.exe"},  // no wildcard expansion
  };
  for (const auto& c : cases) {
    DWORD exit_code = 99;
    const std::string printed = RunAndRead(probe + c.arguments, &exit_code);
    EXPECT_EQ(exit_code, 0u) << printed;
    EXPECT_NE(printed.find(std::string("\nFirstArg: ") + c.first_arg + "\r\n"), std::string::npos)
        << c.arguments << "\n"
        << printed;
  }
}

TEST(StartupStep, AProgramReportedAs62StillSeesA64BitWindows) {
  ScopedWineVersion probe_version("startup_probe.exe", "win8");
  ScopedWineVersion cmd_version("cmd.exe", "win8");
  DWORD exit_code = 99;
  const std::string printed =
      RunAndRead("\"" + ThisFolder() + "startup_probe.exe\" modest", &exit_code);
  EXPECT_EQ(exit_code, 0u) << printed;
  EXPECT_NE(printed.find("\nWindows: " + ProductNameInRegistry() + " 64-bit 6.2.9200"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("\nIs64Bit: true\r\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\nRegistry access: 0xF013F\r\n"), std::string::npos) << printed;
}

TEST(StartupStep, CommandLineArgumentsOutOfRangeAreEmpty) {
  EXPECT_STREQ(CommandLineArgument(0), "");
  EXPECT_STREQ(CommandLineArgument(-1), "");
  EXPECT_STREQ(CommandLineArgument(100000), "");
}

// ---------------------------------------------------------------------------------------------

struct BoxSeen {
  std::string text;
  bool only_ok = false;
  bool found = false;
};

DWORD WINAPI PressOkOnApplicationError(void* parameter) {
  auto* seen = static_cast<BoxSeen*>(parameter);
  // Polls with a deadline: the box appears once MessageBoxA has built it.
  for (int attempt = 0; attempt < 200; ++attempt) {
    HWND box = FindWindowA("#32770", "Application Error");
    if (box != nullptr) {
      char text[1024] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      seen->text = text;
      seen->found = true;
      seen->only_ok = GetDlgItem(box, IDOK) != nullptr && GetDlgItem(box, IDCANCEL) == nullptr;
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      return 0;
    }
    Sleep(50);
  }
  return 1;
}

TEST(TopLevelError, ShowsApplicationErrorWithKindModuleAndMessage) {
  char display[256];
  if (GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0) {
    GTEST_SKIP() << "no X display for a message box";
  }
  BoxSeen seen;
  HANDLE watcher = CreateThread(nullptr, 0, PressOkOnApplicationError, &seen, 0, nullptr);
  ASSERT_NE(watcher, nullptr);
  const void* address = reinterpret_cast<const void*>(0x401234);
  ShowTopLevelError("RegistryError", address, "Failed to set data for 'EstimatedSize'");
  EXPECT_EQ(WaitForSingleObject(watcher, 15000), WAIT_OBJECT_0);
  CloseHandle(watcher);
  ASSERT_TRUE(seen.found);
  char address_text[32];
  std::snprintf(address_text, sizeof address_text, "%p", address);
  EXPECT_EQ(seen.text, std::string("Exception RegistryError in module windows_tests.exe at ") +
                           address_text + ".\r\nFailed to set data for 'EstimatedSize'.\r\n");
  EXPECT_TRUE(seen.only_ok) << "only an OK button";
}

}  // namespace
}  // namespace kestrane
