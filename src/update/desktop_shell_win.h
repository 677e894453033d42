// Starting a program through the user's desktop shell, so that it runs as the user who is
// logged on, with the shell's unelevated token and environment, and not as this elevated
// process.
#pragma once

#include <string>

namespace kestrane {

// Asks the desktop shell of this session to open file with no parameters, the working folder
// folder, the verb "open" and SW_SHOWNORMAL (the shell windows object, the desktop window's
// shell view, its background dispatch object, Application, ShellExecute). Initialises COM on
// the calling thread for the call and uninitialises it afterwards. Returns true when the shell
// took the request; false when COM, the shell or any step of the way did not answer.
bool OpenThroughDesktopShell(const std::wstring& file, const std::wstring& folder);

}  // namespace kestrane
