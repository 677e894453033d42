// Naming the running Windows in words (family, edition, bitness, service pack) and deciding
// from that name whether it is a 64-bit Windows. The decisions are pure functions of facts
// recorded from the platform; windows_version_win.cc records them and asks the registry and
// the system's own version record when the decisions need it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kestrane {

// The fields of the platform's extended version record (OSVERSIONINFOEXA) that are read.
struct VersionRecord {
  uint32_t MajorVersion = 0;
  uint32_t MinorVersion = 0;
  uint32_t BuildNumber = 0;            // the build is the low 16 bits
  uint32_t PlatformId = 0;             // 1: Windows 95 family, 2: NT family
  std::array<char, 128> CSDVersion{};  // the service pack text ends at the first NUL
  uint16_t SuiteMask = 0;              // extended data only
  uint8_t ProductType = 0;  // extended data only: 1 workstation, 2 domain controller, 3 server
};

// What the platform answered before any decision is made.
struct PlatformFacts {
  bool ExtendedQueryOk = false;  // the query with the extended record succeeded
  bool PlainQueryOk = false;     // the fallback query with the plain record succeeded
  VersionRecord Version;
  uint16_t Architecture = 0;  // of the system, not of the process
  // System metrics; non-zero means yes.
  int TabletPC = 0;     // SM_TABLETPC (86)
  int MediaCenter = 0;  // SM_MEDIACENTER (87)
  int Starter = 0;      // SM_STARTER (88)
  int ServerR2 = 0;     // SM_SERVERR2 (89)
};

// The answer of the registry about "ProductName" under
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion.
struct ProductNameAnswer {
  bool KeyOpened = false;
  bool ValuePresent = false;
  std::string Text;
};

// The answer of the registry about "ProductType" under
// HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions.
struct ProductTypeAnswer {
  bool KeyOpened = false;
  bool ReadOk = false;
  bool IsString = false;  // the value's type is REG_SZ
  std::string Text;
};

// The version of the running Windows as the system itself records it, without the
// compatibility shim that makes the version query report 6.2 to a program whose manifest names
// no systems, and the update build revision the registry records beside it.
struct SystemVersion {
  uint32_t Major = 0;
  uint32_t Minor = 0;
  uint32_t Build = 0;
  bool HasRevision = false;  // HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion has "UBR"
  uint32_t Revision = 0;
};

// Returns the lines the "ver" command prints on real Windows of that version, each followed by
// "\r\n": an empty line, then "Microsoft Windows [Version M.m.b]", or "[Version M.m.b.r]"
// with the update build revision r when there is one. The numbers are unsigned decimals.
std::string VerOutputOf(const SystemVersion& version);

// Platform questions that cost something (a registry key); the identification asks them only
// when its tables need the answer.
class PlatformQueries {
 public:
  virtual ~PlatformQueries() = default;
  // Returns what the "ver" command prints on this system, each line followed by "\r\n".
  virtual std::string VerOutput() = 0;
  // Throws RegistryError ("Invalid data type for 'ProductName'") when the value exists but is
  // neither REG_SZ nor REG_EXPAND_SZ.
  virtual ProductNameAnswer ReadProductName() = 0;
  virtual ProductTypeAnswer ReadProductType() = 0;
  // Returns true when the key of hotfix Q246009 (NT 4 Service Pack 6a) opens.
  virtual bool HotfixQ246009Opens() = 0;
};

// The three texts that name a Windows.
struct WindowsIdentity {
  std::string SystemName;
  std::string VersionNumber;
  std::string ServicePack;
};

// Names the Windows the facts describe. Returns false, with all three texts empty, when
// neither version query answered, and false with SystemName "Microsoft Windows " when the
// platform is neither the 95 nor the NT family. Lets a RegistryError of ReadProductName pass.
bool IdentifyWindows(const PlatformFacts& facts, PlatformQueries& queries,
                     WindowsIdentity* identity);

// Returns the display name of an identification: SystemName, then the version number (only
// with include_version) and the service pack, each after a blank when it is not blank.
std::string JoinDisplayName(const WindowsIdentity& identity, bool include_version);

// Returns true when the display name names a 64-bit Windows (it contains " 64").
bool DisplayNameIs64Bit(const std::string& display_name);

// Identifies and joins. Returns "unknown" and leaves *is_64bit alone when the identification
// fails; otherwise sets *is_64bit from the display name.
std::string WindowsDisplayName(const PlatformFacts& facts, PlatformQueries& queries,
                               bool include_version, bool* is_64bit);

// Text rules of the identification, on 1-based positions.

// Returns the position of the first occurrence of what in text, or 0 when absent.
long PositionOf(const std::string& text, const std::string& what);
// Returns count characters of text from position start; empty when count is 0 or less or
// start lies beyond the end; stops at the end of the text. A start below 1 counts as 1.
std::string SubstringFrom(const std::string& text, long start, long count);

}  // namespace kestrane
