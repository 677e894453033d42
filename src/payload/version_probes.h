// Readers of the versions of installed files, one per kind of file, for the version-guarded
// payload writer. Every reader takes a full path in UTF-16 (read through the wide functions,
// so that a folder named in any script is found) and never fails towards its caller: a file
// that is missing or cannot be read gives a neutral value (0 or the empty text). Only
// ReadLngVersion tells the user, and only about a file that exists.
#pragma once

#include <cstdint>
#include <string>

namespace kestrane {

// The unsigned 16-bit little-endian number at byte offset 6 of a "pak" file (0 to 65535).
// Returns 0 when the file is missing, cannot be opened without sharing (another handle holds
// it) or ends before offset 8. Reads only the two bytes, never the content before them.
// Windows only.
int32_t ReadPakVersion(const std::u16string& path);

// The same for the 16-bit number at byte offset 5 of a "cok" file.
int32_t ReadCokVersion(const std::u16string& path);

// The same for the single byte at offset 6 of a "3bs" file (0 to 255).
int32_t Read3bsVersion(const std::u16string& path);

// The number on the line after the header [langver] of a language file, converted by
// TextToInteger. Returns 0 silently when the file does not exist; returns 0 after one
// ReportLanguageFileError naming the full path when the file cannot be opened or read, has
// no [langver] header, or its version line is no integer.
int32_t ReadLngVersion(const std::u16string& path);

// The "FileVersion" string of an executable's version resource in its first listed
// translation, for example "1.0.3.12". Returns the empty text for a file that is no
// executable or has no such string; never a message. version.dll is loaded from the system
// folder on first use. Windows only.
std::string ReadFileVersionText(const std::u16string& path);

// The version resource query for the FileVersion string of one translation: each number as
// exactly four upper-case hexadecimal digits, so that a Russian block in code page 1251 gives
// \StringFileInfo\041904E3\FileVersion.
std::string FileVersionQuery(uint16_t language, uint16_t code_page);

}  // namespace kestrane
