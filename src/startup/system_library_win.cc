#include "startup/system_library_win.h"

#include <string>
#include <vector>

#include "startup/startup_settings.h"
#include "startup/system_module_path.h"
#include "startup/system_texts_win.h"

namespace kestrane {
namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// The folders a system DLL may come from: the system folder, its 32-bit twin on 64-bit
// Windows (looked up by name: Windows 2000 lacks it), and the side-by-side store.
struct SystemFolders {
  std::vector<std::string> folders;
  std::string side_by_side_store;
};

SystemFolders FindSystemFolders() {
  SystemFolders found;
  found.folders.push_back(SystemFolder(GetSystemDirectoryA));
  using FolderQuery = UINT(WINAPI*)(LPSTR, UINT);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel != nullptr) {
    auto wow64_folder = reinterpret_cast<FolderQuery>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemWow64DirectoryA")));
    if (wow64_folder != nullptr) found.folders.push_back(SystemFolder(wow64_folder));
  }
  // The shared Windows folder: GetWindowsDirectoryA names a private one on terminal servers.
  const std::string windows = SystemFolder(GetSystemWindowsDirectoryA);
  if (!windows.empty()) found.side_by_side_store = AddBackslash(windows) + "WinSxS";
  return found;
}

// Returns true when the module was loaded from one of the system's folders.
bool IsSystemModule(HMODULE module, const SystemFolders& system) {
  // The system folders are ANSI texts; the module path is compared in the same code page,
  // where a letter the code page lacks becomes "?" and matches no system folder.
  const std::wstring path = ModulePath(module);
  if (path.empty()) return false;
  const int wide_length = static_cast<int>(path.size());
  const int length =
      WideCharToMultiByte(CP_ACP, 0, path.data(), wide_length, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return false;
  std::string file(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, path.data(), wide_length, &file[0], length, nullptr,
                          nullptr) != length) {
    return false;
  }
  return IsSystemModuleFile(file, system.folders, system.side_by_side_store);
}

// Loads the DLL and keeps it only when its file is the system's; returns nullptr otherwise.
HMODULE LoadChecked(const std::string& name, DWORD flags, const SystemFolders& system) {
  HMODULE module = LoadLibraryExA(name.c_str(), nullptr, flags);
  if (module == nullptr) return nullptr;
  if (IsSystemModule(module, system)) return module;
  FreeLibrary(module);
  return nullptr;
}

HMODULE LoadSystemLibrary(const std::string& dll_name) {
  const SystemFolders system = FindSystemFolders();
  // By name, restricted to the system folder: Windows then also follows the manifest to the
  // side-by-side store (common controls 6). The flag needs Windows 8 or KB2533623; older
  // systems reject it. A module of that name already loaded from elsewhere is returned by
  // name as well, which the file check turns away.
  HMODULE module = LoadChecked(dll_name, LOAD_LIBRARY_SEARCH_SYSTEM32, system);
  if (module != nullptr) return module;
  // By full path, which no module loaded from another folder matches.
  const std::string system_folder = system.folders.front();
  if (system_folder.empty()) return nullptr;
  return LoadChecked(AddBackslash(system_folder) + dll_name, LOAD_WITH_ALTERED_SEARCH_PATH, system);
}

}  // namespace

void LockDownDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto set_default = kernel == nullptr
                         ? nullptr
                         : reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                               GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default != nullptr && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Older systems still search the program's own folder first; SystemFunction's full paths
  // and file check cover what the installer loads itself. A failure leaves nothing to do.
  SetDllDirectoryA("");
}

FARPROC SystemFunction(const char* dll_name, const char* function_name) {
  if (dll_name == nullptr || function_name == nullptr || !IsBareDllName(dll_name)) return nullptr;
  // Loaded on every call: each load of a module already in the process only counts up its
  // references, and the file check runs each time.
  HMODULE module = LoadSystemLibrary(dll_name);
  if (module == nullptr) return nullptr;
  return GetProcAddress(module, function_name);
}

}  // namespace kestrane
