/* A stand-in for a DLL an attacker drops beside a downloaded installer (version.dll,
 * comctl32.dll). It exports the functions the installer looks up, each of which fails. It
 * leaves marker files beside itself: "<dll path>.loaded" when a process loads it, holding the
 * program's path, and "<dll path>.called" when one of its functions is called, holding the
 * function's name. Only the "A" functions the installer uses are exported: Wine's own user32
 * imports the "W" ones of version.dll, and a call from there must not count as the
 * installer's. The end-to-end tests build it with the mingw compiler and copy it under each
 * name. */
#include <windows.h>

static HINSTANCE g_self;

/* Appends the text and a line break to "<this dll's path><suffix>". */
static void LeaveMarker(const char* suffix, const char* text) {
  char dll[MAX_PATH];
  char marker[MAX_PATH + 16];
  DWORD length = GetModuleFileNameA(g_self, dll, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcpyA(marker, dll);
  lstrcatA(marker, suffix);
  HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, lstrlenA(text), &written, NULL);
  WriteFile(file, "\r\n", 2, &written, NULL);
  CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, program, MAX_PATH);
    g_self = self;
    LeaveMarker(".loaded", length > 0 && length < MAX_PATH ? program : "?");
  }
  return TRUE;
}

/* version.dll */
__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle) {
  (void)name;
  LeaveMarker(".called", "GetFileVersionInfoSizeA");
  if (handle != NULL) *handle = 0;
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return 0;
}
__declspec(dllexport) BOOL WINAPI
    GetFileVersionInfoA(LPCSTR name, DWORD handle, DWORD size, LPVOID data) {
  (void)name, (void)handle, (void)size, (void)data;
  LeaveMarker(".called", "GetFileVersionInfoA");
  return FALSE;
}
__declspec(dllexport) BOOL WINAPI
    VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, PUINT length) {
  (void)block, (void)sub_block;
  LeaveMarker(".called", "VerQueryValueA");
  if (buffer != NULL) *buffer = NULL;
  if (length != NULL) *length = 0;
  return FALSE;
}

/* comctl32.dll */
__declspec(dllexport) void WINAPI InitCommonControls(void) {
  LeaveMarker(".called", "InitCommonControls");
}
__declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void* init) {
  (void)init;
  LeaveMarker(".called", "InitCommonControlsEx");
  return FALSE;
}
