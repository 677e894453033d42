// The running Windows named from what the platform answers: the version record, the native
// system information, the system metrics, the registry and the "ver" command.
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
  std::string ConsoleOutput(const std::string& command) override;
  // Reads through a registry handle of its own with access 0xF013F (64-bit view); throws
  // RegistryError when the value is neither REG_SZ nor REG_EXPAND_SZ.
  ProductNameAnswer ReadProductName() override;
  ProductTypeAnswer ReadProductType() override;
  bool HotfixQ246009Opens() override;
};

// Names the running Windows. Returns false when the version query failed or the platform is
// neither the 95 nor the NT family. Lets a RegistryError of the product name pass.
bool IdentifyWindows(WindowsIdentity* identity);

// Returns the display name of the running Windows ("unknown" when it cannot be identified)
// and, when it could be identified, sets g_startupSettings.Is64Bit from it.
std::string WindowsDisplayName(bool include_version);

// Runs command through the interpreter named by "ComSpec", hidden, waits for it without a time
// limit and returns every line it printed, each followed by "\r\n", converted from the OEM to
// the ANSI code page. Returns an empty text, starting nothing, when "ComSpec" is unset, empty
// or longer than 259 characters; "\r\n" when the interpreter cannot be started. The output
// goes through a file with an 8-letter random name in the "Temp" folder (or the current folder
// when "Temp" is unset), deleted before returning.
std::string CaptureConsoleOutput(const std::string& command);

}  // namespace kestrane
