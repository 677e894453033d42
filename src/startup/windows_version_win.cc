#include <windows.h>

#include "startup/windows_version_win.h"

#include <cstring>
#include <vector>

#include "startup/pseudo_random.h"
#include "startup/registry_win.h"
#include "startup/scoped_handle_win.h"
#include "startup/startup_settings.h"
#include "startup/system_texts_win.h"
#include "startup/text_lines.h"
#include "startup/console_output.h"

namespace kestrane {
namespace {

static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version record");
static_assert(sizeof(OSVERSIONINFOA) == 148, "plain version record");
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "start-up record");
static_assert(sizeof(VersionRecord::CSDVersion) == sizeof(OSVERSIONINFOEXA::szCSDVersion),
              "service pack text");

constexpr char kNtCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kProductOptionsKey[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr char kHotfixQ246009Key[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
constexpr DWORD kProductTypeBufferSize = 256;

// The system metrics that name editions; mingw's headers do not all know them.
constexpr int kMetricTabletPC = 86;
constexpr int kMetricMediaCenter = 87;
constexpr int kMetricStarter = 88;
constexpr int kMetricServerR2 = 89;

// Opens a key below HKEY_LOCAL_MACHINE for reading values, through a handle of its own: the
// process's registry handle does not exist yet.
KeyScope OpenForQuery(RegistryHandle& registry, const char* path) {
  return registry.Open(HKEY_LOCAL_MACHINE, path, false);
}

void ReadSystemInfo(SYSTEM_INFO* info) {
  // A 32-bit process on 64-bit Windows learns the system's architecture only from
  // GetNativeSystemInfo, which systems before XP lack.
  using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto native = kernel == nullptr ? nullptr
                                  : reinterpret_cast<GetNativeSystemInfoFn>(reinterpret_cast<void*>(
                                        GetProcAddress(kernel, "GetNativeSystemInfo")));
  if (native != nullptr) {
    native(info);
  } else {
    GetSystemInfo(info);
  }
}

}  // namespace

PlatformFacts ReadPlatformFacts() {
  PlatformFacts facts;
  OSVERSIONINFOEXA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  facts.ExtendedQueryOk = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)) != FALSE;
  if (!facts.ExtendedQueryOk) {
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    facts.PlainQueryOk = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)) != FALSE;
    if (!facts.PlainQueryOk) return facts;
  }
  VersionRecord& v = facts.Version;
  v.MajorVersion = version.dwMajorVersion;
  v.MinorVersion = version.dwMinorVersion;
  v.BuildNumber = version.dwBuildNumber;
  v.PlatformId = version.dwPlatformId;
  std::memcpy(v.CSDVersion.data(), version.szCSDVersion, v.CSDVersion.size());
  v.SuiteMask = version.wSuiteMask;
  v.ProductType = version.wProductType;

  SYSTEM_INFO system;
  std::memset(&system, 0, sizeof system);
  ReadSystemInfo(&system);
  facts.Architecture = system.wProcessorArchitecture;

  facts.TabletPC = GetSystemMetrics(kMetricTabletPC);
  facts.MediaCenter = GetSystemMetrics(kMetricMediaCenter);
  facts.Starter = GetSystemMetrics(kMetricStarter);
  facts.ServerR2 = GetSystemMetrics(kMetricServerR2);
  return facts;
}

std::string SystemQueries::ConsoleOutput(const std::string& command) {
  return CaptureConsoleOutput(command);
}

ProductNameAnswer SystemQueries::ReadProductName() {
  ProductNameAnswer answer;
  // The process's own registry handle does not exist yet; this one lives for this read only.
  RegistryHandle registry(kAllAccess64BitView);
  registry.SetRoot(HKEY_LOCAL_MACHINE);
  if (!registry.OpenKey(kNtCurrentVersionKey, false)) return answer;
  answer.KeyOpened = true;
  if (!registry.ValueExists("ProductName")) return answer;
  answer.ValuePresent = true;
  answer.Text = registry.ReadString("ProductName");
  return answer;
}

ProductTypeAnswer SystemQueries::ReadProductType() {
  ProductTypeAnswer answer;
  RegistryHandle registry(KEY_QUERY_VALUE);
  const KeyScope key = OpenForQuery(registry, kProductOptionsKey);
  if (!key.opened()) return answer;
  answer.KeyOpened = true;
  char buffer[kProductTypeBufferSize] = {};
  DWORD size = sizeof buffer;
  DWORD type = REG_NONE;
  answer.ReadOk = RegQueryValueExA(registry.Key(), "ProductType", nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
  if (!answer.ReadOk) return answer;
  answer.IsString = type == REG_SZ;
  // A stored text need not end in NUL: take what was read, up to its first NUL.
  const size_t length = size < sizeof buffer ? size : sizeof buffer;
  const void* nul = std::memchr(buffer, '\0', length);
  answer.Text.assign(buffer, nul != nullptr ? static_cast<const char*>(nul) - buffer : length);
  return answer;
}

bool SystemQueries::HotfixQ246009Opens() {
  RegistryHandle registry(KEY_QUERY_VALUE);
  return OpenForQuery(registry, kHotfixQ246009Key).opened();
}

bool IdentifyWindows(WindowsIdentity* identity) {
  SystemQueries queries;
  return IdentifyWindows(ReadPlatformFacts(), queries, identity);
}

std::string WindowsDisplayName(bool include_version) {
  SystemQueries queries;
  return WindowsDisplayName(ReadPlatformFacts(), queries, include_version,
                            &g_startupSettings.Is64Bit);
}

std::string CaptureConsoleOutput(const std::string& command) {
  const std::string interpreter = EnvironmentVariable("ComSpec");
  // The interpreter's path is held to the classic path limit; a longer one counts as missing.
  if (interpreter.empty() || interpreter.size() >= MAX_PATH) return "";

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;

  const std::string output_file =
      AddBackslash(EnvironmentVariable("Temp")) + RandomFileName(g_processRandom);
  const std::string command_line = ConsoleCommandLine(interpreter, command, output_file);
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');

  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);
  if (CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE,
                     CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                     &process)) {
    ScopedHandle process_handle(process.hProcess);
    ScopedHandle thread_handle(process.hThread);
    // A failed wait leaves nothing to do but read what is there.
    WaitForSingleObject(process.hProcess, INFINITE);
  }

  // A missing or unreadable file reads as one empty line.
  std::string printed;
  {
    TextFile file;
    file.Open(output_file);
    printed = JoinOutputLines(file);
  }
  DeleteFileA(output_file.c_str());

  // Every byte is converted, an embedded NUL included, into a buffer of the same length.
  std::vector<char> converted(printed.size() + 1, '\0');
  OemToCharBuffA(printed.data(), converted.data(), static_cast<DWORD>(printed.size()));
  return std::string(converted.data(), printed.size());
}

}  // namespace kestrane
