// The update run from start to end.
#pragma once

#include "update/package_info.h"

namespace kestrane {

// How a run ended; the process's exit code, so that a caller of a quiet run is never told
// that a failed update succeeded. 1 is kept for the top-level error handler.
enum class UpdateOutcome : int {
  kInstalled = 0,
  kRegistryFailure = 2,    // the user's shell folders could not be read
  kNoRights = 3,           // no administrator rights
  kPackageUnreadable = 4,  // the installer's own file could not be checked
  kPackageDistorted = 5,   // the seal does not match
  kHostNotInstalled = 6,   // no Kestrane.exe in the install folder
  kDeclined = 7,           // the user answered no to the first question
  kPayloadNotWritten = 8,  // the payload could not be written (the run still went to its end)
};

// Runs the update of the package and returns its outcome; every outcome has been shown to the
// user by a message box or by nothing. The one place that fills the process's records
// (g_packageInfo, the error boxes' titles, g_installEnvironment) and hands each operation
// what it needs of them; g_startupSettings is the start-up step's. Errors it does not catch
// (a failed "EstimatedSize" write) escape to the entry point's top-level handler.
UpdateOutcome RunUpdate(const PackageInfo& package);

}  // namespace kestrane
