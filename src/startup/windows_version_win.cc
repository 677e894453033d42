#include <windows.h>

#include "startup/windows_version_win.h"

#include <cstring>

#include "startup/registry_win.h"
#include "startup/startup_settings.h"

namespace kestrane {
namespace {

static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version record");
static_assert(sizeof(OSVERSIONINFOA) == 148, "plain version record");
static_assert(sizeof(VersionRecord::CSDVersion) == sizeof(OSVERSIONINFOEXA::szCSDVersion),
              "service pack text");

constexpr char kNtCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kProductOptionsKey[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr char kHotfixQ246009Key[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
constexpr DWORD kProductTypeBufferSize = 256;
constexpr char kRevisionValue[] = "UBR";

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

// Returns true, with the numbers, when RtlGetVersion answered. It reports the system's own
// version: the version query reports 6.2 on every later system to this program, whose manifest
// names no systems. ntdll is mapped into every process, so the lookup loads nothing.
bool ReadUnshimmedVersion(SystemVersion* version) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto get = ntdll == nullptr ? nullptr
                              : reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                                    GetProcAddress(ntdll, "RtlGetVersion")));
  if (get == nullptr) return false;
  OSVERSIONINFOW info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (get(&info) != 0) return false;  // an NTSTATUS other than STATUS_SUCCESS
  version->Major = info.dwMajorVersion;
  version->Minor = info.dwMinorVersion;
  version->Build = info.dwBuildNumber;
  return true;
}

// Systems without RtlGetVersion predate the shim, so the version query tells the truth there.
void ReadQueriedVersion(SystemVersion* version) {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return;
  version->Major = info.dwMajorVersion;
  version->Minor = info.dwMinorVersion;
  version->Build = info.dwBuildNumber & 0xFFFF;
}

// Returns true, with the value, when the machine's version key holds "UBR" as a DWORD. Read
// with query access only, in the 64-bit view, where 64-bit Windows keeps it.
bool ReadRevision(uint32_t* revision) {
  RegistryHandle registry(KEY_QUERY_VALUE | KEY_WOW64_64KEY);
  const KeyScope key = OpenForQuery(registry, kNtCurrentVersionKey);
  if (!key.opened()) return false;
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = REG_NONE;
  if (RegQueryValueExA(registry.Key(), kRevisionValue, nullptr, &type,
                       reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value) {
    return false;
  }
  *revision = value;
  return true;
}

}  // namespace

SystemVersion ReadSystemVersion() {
  SystemVersion version;
  if (!ReadUnshimmedVersion(&version)) ReadQueriedVersion(&version);
  version.HasRevision = ReadRevision(&version.Revision);
  return version;
}

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

std::string SystemQueries::VerOutput() { return VerOutputOf(ReadSystemVersion()); }

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

}  // namespace kestrane
