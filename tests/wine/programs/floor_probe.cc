// The start-up floor of the package, for the benchmark (bench/wine_bench.py): a GUI program
// with the package's manifest that imports the same system libraries as the package, makes one
// trivial call into each and exits. What the package takes beyond this floor is its own work.
// Exit code 0, or 1 when a call failed (the benchmark then reports the floor as not measured).
//
// To follow the package's imports (the benchmark compares both import tables and refuses a
// floor that differs), add one row to kLibraryCalls; a library outside KESTRANE_WIN_LIBS also
// needs its import library on this program's line in CMakeLists.txt (ole32, oleaut32 ...).
#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>

namespace {

struct LibraryCall {
  const char* library;
  // Returns true when the call did what it always does.
  bool (*call)();
};

// kernel32 and msvcrt come with the runtime; each row makes the import its library needs.
const LibraryCall kLibraryCalls[] = {
    {"kernel32", [] { return GetCurrentProcessId() != 0; }},
    {"user32", [] { return GetSystemMetrics(SM_CXSCREEN) >= 0; }},
    {"gdi32", [] { return GetStockObject(WHITE_BRUSH) != nullptr; }},
    {"advapi32",
     [] {
       HKEY key = nullptr;
       if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key) != ERROR_SUCCESS) {
         return false;
       }
       return RegCloseKey(key) == ERROR_SUCCESS;
     }},
    // Either answer will do (Wine runs every process elevated); the call is what counts.
    {"shell32",
     [] {
       IsUserAnAdmin();
       return true;
     }},
    // Loading ole32 and oleaut32 is the cost; neither call starts COM.
    {"ole32",
     [] {
       void* block = CoTaskMemAlloc(16);
       CoTaskMemFree(block);
       return block != nullptr;
     }},
    {"oleaut32",
     [] {
       BSTR text = SysAllocString(L"floor");
       const bool made = text != nullptr;
       SysFreeString(text);
       return made;
     }},
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  for (const LibraryCall& row : kLibraryCalls) {
    if (!row.call()) return 1;
  }
  return 0;
}
