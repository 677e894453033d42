// The texts Windows keeps for this process, each read one way: environment variables, module
// paths and the system's folders. Each reader grows its buffer up to one bound, the longest
// text Windows hands back (32767 characters and the NUL), and gives an empty text rather than
// a cut one.
#pragma once

#include <windows.h>

#include <string>

namespace kestrane {

// Returns the value of the environment variable, or an empty text when it is unset, empty or
// cannot be read whole.
std::string EnvironmentVariable(const char* name);

// Returns the full path of the module's file (the running executable for nullptr), or an
// empty text when Windows cannot tell it. Wide, because the ANSI path of a folder named in
// letters the ANSI code page lacks has "?" in their place and names no file.
std::wstring ModulePath(HMODULE module);

// Returns the folder a GetSystemDirectoryA-like query gives, as it gives it (no backslash
// added), or an empty text when the query fails.
std::string SystemFolder(UINT(WINAPI* query)(LPSTR, UINT));

// The same 16-bit units as the type the wide functions take (wchar_t is 16 bits on Windows).
inline std::wstring WideFromUtf16(const std::u16string& text) { return {text.begin(), text.end()}; }
inline std::u16string Utf16FromWide(const std::wstring& text) { return {text.begin(), text.end()}; }

// Returns true when path names an existing file that is not a folder.
bool IsExistingFile(const std::string& path);
// The same through the wide function, for a path that keeps every character.
bool IsExistingFile(const std::u16string& path);

}  // namespace kestrane
