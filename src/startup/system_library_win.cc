#include "startup/system_library_win.h"

#include <string>

namespace kestrane {
namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

HMODULE LoadSystemLibrary(const char* dll_name) {
  // The flag needs Windows 8 or KB2533623; older systems reject it, and the full path serves.
  HMODULE module = LoadLibraryExA(dll_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr) return module;
  char folder[MAX_PATH + 1];
  UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::string path(folder, length);
  if (path.back() != '\\') path += '\\';
  path += dll_name;
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void LockDownDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default != nullptr && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryA("");
}

FARPROC SystemFunction(const char* dll_name, const char* function_name) {
  HMODULE module = GetModuleHandleA(dll_name);
  if (module == nullptr) module = LoadSystemLibrary(dll_name);
  if (module == nullptr) return nullptr;
  return GetProcAddress(module, function_name);
}

}  // namespace kestrane
