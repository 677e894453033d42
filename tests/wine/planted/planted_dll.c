/* A stand-in for a DLL an attacker drops beside a downloaded installer (version.dll,
 * comctl32.dll). It exports the functions the installer looks up, each of which fails, and
 * on being loaded leaves a marker file beside itself: <dll path>.loaded, holding the path of
 * the program that loaded it. The end-to-end tests build it with the mingw compiler and copy
 * it under each name. */
#include <windows.h>

static void LeaveMarker(HINSTANCE self) {
  char dll[MAX_PATH];
  char marker[MAX_PATH + 8];
  char program[MAX_PATH];
  DWORD length = GetModuleFileNameA(self, dll, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcpyA(marker, dll);
  lstrcatA(marker, ".loaded");
  DWORD program_length = GetModuleFileNameA(NULL, program, MAX_PATH);
  if (program_length == 0 || program_length >= MAX_PATH) program_length = 0;
  HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, program, program_length, &written, NULL);
  WriteFile(file, "\r\n", 2, &written, NULL);
  CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
  return TRUE;
}

/* version.dll */
__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle) {
  (void)name;
  if (handle != NULL) *handle = 0;
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return 0;
}
__declspec(dllexport) BOOL WINAPI
    GetFileVersionInfoA(LPCSTR name, DWORD handle, DWORD size, LPVOID data) {
  (void)name, (void)handle, (void)size, (void)data;
  return FALSE;
}
__declspec(dllexport) BOOL WINAPI
    VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, PUINT length) {
  (void)block, (void)sub_block;
  if (buffer != NULL) *buffer = NULL;
  if (length != NULL) *length = 0;
  return FALSE;
}

/* comctl32.dll */
__declspec(dllexport) void WINAPI InitCommonControls(void) {}
__declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void* init) {
  (void)init;
  return FALSE;
}
