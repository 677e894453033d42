// Stands in for the command interpreter named by "ComSpec": appends the command line it was
// started with, and a line break, to the file named by the environment variable
// KESTRANE_SPY_LOG, and prints nothing. Shows whether, and how, a program ran the
// interpreter.
#include <windows.h>

#include <cstring>

int main() {
  char log[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("KESTRANE_SPY_LOG", log, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const char* command_line = GetCommandLineA();
  DWORD written = 0;
  const bool ok = WriteFile(file, command_line, static_cast<DWORD>(std::strlen(command_line)),
                            &written, nullptr) &&
                  WriteFile(file, "\r\n", 2, &written, nullptr);
  CloseHandle(file);
  return ok ? 0 : 1;
}
