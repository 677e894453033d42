// DLLs that are not always taken from the system folder are loaded only from there, by
// function lookup at run time, so that a DLL planted beside the installer is never loaded.
#pragma once

#include <windows.h>

namespace kestrane {

// Restricts the DLL search of this process to the system folder where Windows allows it
// (SetDefaultDllDirectories, looked up by name), else removes the current folder from the
// search (SetDllDirectoryA("")). Call first thing at start.
void LockDownDllSearch();

// Returns the named function of a DLL in the system folder, loading the DLL from there on
// first use; nullptr when the DLL or the function is missing there, or when dll_name is not a
// bare file name. A module of the same name loaded from anywhere else (a planted DLL that
// other code pulled in) is never used.
FARPROC SystemFunction(const char* dll_name, const char* function_name);

}  // namespace kestrane
