// Turning the host application's "UninstallString" into its install folder, in UTF-16 units
// as the registry's wide functions give it: only the ASCII quote, blank, tab and backslash are
// examined, so a name in any script passes through whole.
#pragma once

#include <string>

namespace kestrane {

// Returns the folder of the uninstall command, ending with its backslash, or an empty path
// when it has none.
//
// A command that starts with a double quote (after any blanks) names its program inside the
// quotes, so the folder is cut from the quoted text: "\"C:\Games\Kestrane\unins000.exe\"
// /SILENT" gives C:\Games\Kestrane\. A missing closing quote makes the rest of the value the
// program, as Windows parses such a command line.
//
// Any other value is cut as it stands: everything up to and including the last backslash
// before its last character (the last character is never examined). So C:\X\u.exe gives
// C:\X\ and C:\X\Y\ gives C:\X\ as well.
std::u16string UninstallFolder(const std::u16string& uninstall_string);

// Returns text up to and including its last backslash before the last character, or an empty
// text when there is none.
std::u16string CutToFolder(const std::u16string& text);

}  // namespace kestrane
