// The running Windows named from what the platform answers: the version record, the native
// system information, the system metrics and the registry. The line of the "ver" command is
// built from the system's own version record; no program is started for it.
#pragma once

#include <string>

#include "startup/windows_version.h"

namespace kestrane {

// Returns the facts the platform answers now. When neither version query succeeds nothing
// else is asked.
PlatformFacts ReadPlatformFacts();

// The costly questions, answered by the running system.
class SystemQueries : public PlatformQueries {
 public:
  // Returns VerOutputOf(ReadSystemVersion()).
  std::string VerOutput() override;
  // Reads through a registry handle of its own with access 0xF013F (64-bit view); throws
  // RegistryError when the value is neither REG_SZ nor REG_EXPAND_SZ.
  ProductNameAnswer ReadProductName() override;
  ProductTypeAnswer ReadProductType() override;
  bool HotfixQ246009Opens() override;
};

// Returns the version from RtlGetVersion of ntdll (looked up by name), or from the version
// query when ntdll lacks it, and the DWORD "UBR" under
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion (64-bit view, read-only access) when it
// is there. Reads no environment variable and no HKCU value; never fails.
SystemVersion ReadSystemVersion();

// Names the running Windows. Returns false when the version query failed or the platform is
// neither the 95 nor the NT family. Lets a RegistryError of the product name pass.
bool IdentifyWindows(WindowsIdentity* identity);

// Returns the display name of the running Windows ("unknown" when it cannot be identified)
// and, when it could be identified, sets g_startupSettings.Is64Bit from it.
std::string WindowsDisplayName(bool include_version);

}  // namespace kestrane
