#include <windows.h>

#include "environment/environment_win.h"
#include "environment/install_environment.h"
#include "payload/extract_payload.h"
#include "startup/errors.h"
#include "installfolder/folder_handle_win.h"
#include "installfolder/install_lock_win.h"
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
                          const PackageInfo& info, const HeldFolder& folder) {
  // Measured and recorded while no other run writes, so that the last run to record the size
  // measured the folder after every write. A wait that runs out records the size all the same.
  InstallLock lock;
  // The result of opening needs no test of its own: with no key open the write fails.
  const KeyScope key =
      registry.Open(HKEY_LOCAL_MACHINE, SizeRegistrationKey(environment, info), true);
  const int32_t size = folder.held() ? FolderSizeKiB(folder.get()) : -1;
  if (size != -1) registry.WriteInteger("EstimatedSize", size);
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
      !IsExistingFile(InstallDirFile(environment, HostExecutableName(info)))) {
    ReportError(kHostNotInstalledText.english, kHostNotInstalledText.russian);
    return UpdateOutcome::kHostNotInstalled;
  }

  const bool russian = g_startupSettings.RussianUI;
  if (!quiet && !AskQuestion(MessageText::Program(InstallQuestionText(info, russian)),
                             InstallQuestionCaption(russian), russian)) {
    return UpdateOutcome::kDeclined;
  }

  bool written = false;
  {
    // Held from before the write until the size is recorded, so that nobody can put another
    // folder in its place meanwhile; a folder that cannot be held is a failed write.
    const HeldFolder folder(environment.InstallDir);
    // A payload that cannot be written has been reported; the run still refreshes the size
    // and offers the host, as the user may go on using the version already installed.
    written = ExtractPayload(info.ResourceName, info.ResourceType, folder,
                             DecodeCp1251(info.PayloadFileName), info.Guarded);
    RefreshInstalledSize(registry, environment, info, folder);
  }

  const std::u16string host = DecodeCp1251(HostExecutableName(info));
  if (quiet) {
    if (WantsHostStart(CommandLineArgument(2))) StartHostAndRaise(environment.InstallDir, host);
  } else if (AskQuestionInLanguage(MessageText::Program(FinishQuestionText(info)),
                                   MessageText::Program(info.TitleEnglish), kRussianLanguage)) {
    StartHostAndRaise(environment.InstallDir, host);
  }
  return written ? UpdateOutcome::kInstalled : UpdateOutcome::kPayloadNotWritten;
}

}  // namespace kestrane
