// Dealing with a running host application: it owns the shared-memory object
// "kestrane_memfile" while it runs and its main window has the class "TKSMainForm".
#pragma once

#include <string>

namespace kestrane {

extern const char kHostMemFileName[];
extern const char kHostWindowClass[];

// Returns true when the host's shared-memory object existed before this call. Leaves no
// handle open either way.
bool IsHostRunning();

// Posts WM_QUIT to the host's main window when there is one; does not wait.
void AskHostToQuit();

// Makes install_dir (ending in a backslash) the current folder and opens install_dir +
// executable_name with the verb "open", no parameters and SW_SHOWNORMAL. An installer that UAC
// elevated has the user's desktop shell open it, as the user, in install_dir; when that shell
// does not answer, nothing is started. Any other installer opens it itself. Both go through
// the wide functions, so that a folder named in any script is found. Reports nothing.
void StartHost(const std::u16string& install_dir, const std::u16string& executable_name);

// StartHost, then waits up to 8 x 512 ms for the host and 11 x 1024 ms for its window, and
// shows that window and brings it to the front. Gives up silently.
void StartHostAndRaise(const std::u16string& install_dir, const std::u16string& executable_name);

}  // namespace kestrane
