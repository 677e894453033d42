// Asks for DLL functions the way the installer does, or the unsafe way, and prints where each
// came from, for the DLL-planting tests. Steps run in the order given:
//   library_probe [--no-lockdown] [--preload PATH | --bare NAME | --system NAME FUNCTION]...
//     --no-lockdown    skip LockDownDllSearch, which otherwise runs first, as in the installer
//     --preload PATH   LoadLibraryA of a full path (a planted DLL some other code loaded)
//     --bare NAME      LoadLibraryA of a bare name, the unsafe way
//     --system NAME F  SystemFunction(NAME, F)
// Prints one line per step: "<step> <name> <found 0|1> <module file or ->".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "startup/system_library_win.h"

namespace {

// Returns the file of the module that holds the address, or "-".
std::string ModuleOf(const void* address) {
  HMODULE module = nullptr;
  if (address == nullptr || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                static_cast<const char*>(address), &module)) {
    return "-";
  }
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string("?");
}

int Usage() {
  std::fprintf(stderr,
               "usage: library_probe [--no-lockdown] [--preload PATH | --bare NAME | "
               "--system NAME FUNCTION]...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--no-lockdown") == 0) {
    first = 2;
  } else {
    kestrane::LockDownDllSearch();
  }
  for (int i = first; i < argc; ++i) {
    const std::string step = argv[i];
    if ((step == "--preload" || step == "--bare") && i + 1 < argc) {
      const char* name = argv[++i];
      HMODULE module = LoadLibraryA(name);
      std::printf("%s %s %d %s\n", step.c_str() + 2, name, module != nullptr ? 1 : 0,
                  ModuleOf(reinterpret_cast<const void*>(module)).c_str());
    } else if (step == "--system" && i + 2 < argc) {
      const char* name = argv[++i];
      const char* function = argv[++i];
      FARPROC found = kestrane::SystemFunction(name, function);
      std::printf("system %s!%s %d %s\n", name, function, found != nullptr ? 1 : 0,
                  ModuleOf(reinterpret_cast<const void*>(found)).c_str());
    } else {
      return Usage();
    }
  }
  return 0;
}
