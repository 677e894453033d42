// Texts as the robot reads them from windows and spells them in its transcript.
#pragma once

#include <windows.h>

#include <string>

namespace robot {

std::string Utf8(const std::wstring& wide);
// The bytes as lowercase hex.
std::string Hex(const std::string& bytes);
// The UTF-16LE code units of a wide text as hex.
std::string Hex(const std::wstring& wide);

// Window and dialog item texts, up to 64 Ki characters: the ANSI read gives the bytes a
// program using the ANSI functions gets, the wide read what the window shows.
std::string WindowTextA(HWND window);
std::wstring WindowTextW(HWND window);
std::wstring DialogItemTextW(HWND dialog, int id);
std::string ClassName(HWND window);

}  // namespace robot
