#include <windows.h>

#include "environment/environment_win.h"
#include "environment/install_environment.h"
#include "payload/extract_payload.h"
#include "startup/errors.h"
#include "startup/install_lock_win.h"
#include "startup/messages.h"
#include "startup/registry_win.h"
#include "startup/startup_settings.h"
#include "startup/startup_step.h"
#include "startup/system_texts_win.h"
#include "update/host_control.h"
#include "update/package_info.h"
#include "update/run_update.h"
#include "update/self_check.h"
#include "update/update_rules.h"
#include "update/update_texts.h"
#include "environment/folder_size_win.h"

namespace kestrane {
namespace {

// Records the installed folder's new size under the host's uninstall registration. A key that
// cannot be opened or written makes WriteInteger throw; nothing here catches that, so the
// top-level handler ends the process.
void RefreshInstalledSize(RegistryHandle& registry, const InstallEnvironment& environment,
                          const PackageInfo& info) {
  // Measured and recorded while no other run writes, so that the last run to record the size
  // measured the folder after every write. A wait that runs out records the size all the same.
  InstallLock lock;
  // The result of opening needs no test of its own: with no key open the write fails.
  const KeyScope key =
      registry.Open(HKEY_LOCAL_MACHINE, SizeRegistrationKey(environment, info), true);
  const int32_t size = FolderSizeKiB(environment.InstallDir);
  if (size != -1) registry.WriteInteger("EstimatedSize", size);
}

// The install folder is still an ANSI text here; this stands in until it is kept wide
// throughout. Returns the text decoded from the ANSI code page, or an empty text when it
// cannot be.
std::u16string WideFromAnsiForHostStart(const std::string& text) {
  if (text.empty()) return std::u16string();
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::u16string();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                          length) != length) {
    return std::u16string();
  }
  return std::u16string(wide.begin(), wide.end());
}

}  // namespace

UpdateOutcome RunUpdate(const PackageInfo& package) {
  g_packageInfo = package;
  const PackageInfo& info = g_packageInfo;
  SetErrorTitles({info.TitleRussian, info.TitleEnglish});

  if (g_startupSettings.Registry == nullptr) throw RegistryError("No registry handle");
  RegistryHandle& registry = *g_startupSettings.Registry;
  if (!DiscoverEnvironment(registry, info.ProgramName, &g_installEnvironment)) {
    return UpdateOutcome::kRegistryFailure;
  }
  const InstallEnvironment& environment = g_installEnvironment;

  if (!environment.IsAdmin) {
    ReportError(kNoRightsText.english, kNoRightsText.russian);
    return UpdateOutcome::kNoRights;
  }

  // The running host holds the file the update replaces; it is asked to quit, not waited for.
  if (IsHostRunning()) AskHostToQuit();

  switch (VerifyOwnFile()) {
    case OwnFileVerdict::kPassed:
      break;
    case OwnFileVerdict::kUnreadable:
      return UpdateOutcome::kPackageUnreadable;
    case OwnFileVerdict::kDistorted:
      return UpdateOutcome::kPackageDistorted;
  }

  const bool quiet = IsQuietMode(g_startupSettings.FirstArg);
  if (!IsFullFolderPath(environment.InstallDir) ||
      !IsExistingFile(environment.InstallDir + HostExecutableName(info))) {
    ReportError(kHostNotInstalledText.english, kHostNotInstalledText.russian);
    return UpdateOutcome::kHostNotInstalled;
  }

  const bool russian = g_startupSettings.RussianUI;
  if (!quiet && !AskQuestion(MessageText::Program(InstallQuestionText(info, russian)),
                             InstallQuestionCaption(russian), russian)) {
    return UpdateOutcome::kDeclined;
  }

  // A payload that cannot be written has been reported; the run still refreshes the size and
  // offers the host, as the user may go on using the version already installed.
  const bool written = ExtractPayload(info.ResourceName, info.ResourceType,
                                      environment.InstallDir + info.PayloadFileName, info.Guarded);

  RefreshInstalledSize(registry, environment, info);

  const std::u16string install_dir = WideFromAnsiForHostStart(environment.InstallDir);
  const std::u16string host = WideFromAnsiForHostStart(HostExecutableName(info));
  if (quiet) {
    if (WantsHostStart(CommandLineArgument(2))) StartHostAndRaise(install_dir, host);
  } else if (AskQuestionInLanguage(MessageText::Program(FinishQuestionText(info)),
                                   MessageText::Program(info.TitleEnglish), kRussianLanguage)) {
    StartHostAndRaise(install_dir, host);
  }
  return written ? UpdateOutcome::kInstalled : UpdateOutcome::kPayloadNotWritten;
}

}  // namespace kestrane
