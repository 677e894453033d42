// Tells how this process runs, one fact a line, so that the harness can tell whether the
// machine runs 32-bit Windows programs and the suite log can say in what kind of process a
// package ran:
//   pointer bits: 32|64
//   WoW64: yes|no
//   native processor: x86|x64|other <number>
// Exit code 0.
#include <windows.h>

#include <cstdio>

int main() {
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64)) wow64 = FALSE;
  SYSTEM_INFO native;
  GetNativeSystemInfo(&native);
  std::printf("pointer bits: %u\n", static_cast<unsigned>(sizeof(void*) * 8));
  std::printf("WoW64: %s\n", wow64 ? "yes" : "no");
  switch (native.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      std::printf("native processor: x86\n");
      break;
    case PROCESSOR_ARCHITECTURE_AMD64:
      std::printf("native processor: x64\n");
      break;
    default:
      std::printf("native processor: other %u\n", native.wProcessorArchitecture);
  }
  return 0;
}
