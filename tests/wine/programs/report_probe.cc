// Shows one error box through ReportError, choosing the language from the user's locale as
// the installer's start-up step does, so that a test can read what a user of either locale
// sees.
//   report_probe.exe                         fixed English and Russian texts
//   report_probe.exe ENGLISH_HEX RUSSIAN_HEX texts as hex of their single-byte bytes
// Prints "russian_ui=<0|1> lcid=<decimal>" and exits with 0, or 2 on a malformed command line.
#include <windows.h>

#include <cstdio>
#include <string>

#include "probe_args.h"
#include "startup/messages.h"
#include "startup/startup_settings.h"
#include "update/package_info.h"

int main(int argc, char** argv) {
  std::string english = "The probe could not write the file.";
  std::string russian = "Проба не смогла записать файл.";
  if (argc == 3) {
    if (!probe::DecodeHex(argv[1], &english) || !probe::DecodeHex(argv[2], &russian)) {
      std::fprintf(stderr, "report_probe: texts must be hex\n");
      return 2;
    }
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: report_probe.exe [ENGLISH_HEX RUSSIAN_HEX]\n");
    return 2;
  }
  LCID lcid = GetUserDefaultLCID();
  kestrane::g_startupSettings.RussianUI = kestrane::IsRussianLocale(lcid);
  const kestrane::PackageInfo package = kestrane::MakePackageInfo("kvx", "cok", 367, false);
  kestrane::SetErrorTitles({package.TitleRussian, package.TitleEnglish});
  std::printf("russian_ui=%d lcid=%lu\n", kestrane::g_startupSettings.RussianUI ? 1 : 0,
              static_cast<unsigned long>(lcid));
  std::fflush(stdout);
  kestrane::ReportError(kestrane::MessageText::Program(english),
                        kestrane::MessageText::Program(russian));
  return 0;
}
