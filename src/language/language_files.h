// Message texts looked up by key in the host application's language files: plain-text files,
// one per language, in the folder "language" under its install folder, InstallDir (format:
// language_format.h). A lookup returns one line or a block of lines; LanguageText also fills
// the placeholders %1 to %4.
//
// Readers never fail towards their caller: a file that cannot be opened or read is reported
// once through ReportLanguageFileError and the lookup gives the empty text (or, for a block
// whose reading failed part-way, the lines gathered so far, final CR LF included). A key that
// is not in the file is no failure: its text is empty. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "startup/message_text.h"
#include "startup/text_lines.h"

namespace kestrane {

// The chosen language and the files the lookups read. Whoever chooses a language fills
// LanguageFiles, the indices and CurrentLanguageId and assigns OpenLanguageFileName; whenever
// CurrentLanguageIndex is 0 or more, LanguageFiles must hold entries at CurrentLanguageIndex,
// RussianLanguageIndex and EnglishLanguageIndex. An index without an entry makes the lookup
// that needs it fail with a report instead of reading anything.
struct LanguageSupport {
  std::vector<std::string> LanguageFiles;  // file names, without folder
  int32_t RussianLanguageIndex = -1;       // the folder file when RussianUI
  int32_t EnglishLanguageIndex = -1;       // the folder file otherwise
  int32_t CurrentLanguageIndex = -1;  // below 0: no language chosen, callers use built-in texts
  int32_t CurrentLanguageId = -1;     // low 16 bits: Windows language identifier
  // Full path of the chosen language's file; empty while none is assigned. Every lookup in
  // OpenLanguageFile reopens it from its first line; it then stays open until the next one.
  std::string OpenLanguageFileName;
  TextFile OpenLanguageFile;
  // Opened by the folder lookups. Kept open between a single-line lookup and the
  // continuation read of a block (see KeepFolderFileOpen).
  TextFile FolderLanguageFile;
  // When true, the next successful single-line folder lookup leaves FolderLanguageFile open
  // after the value line and clears the flag; when false, that lookup closes the file. Each
  // block lookup sets it first, so a block lookup that fell back to the folder file is the
  // one that cleared it. Starting true, the first fallback of a plain ReadOpenLanguageKey
  // gives the block value.
  bool KeepFolderFileOpen = true;
};

extern LanguageSupport g_languageSupport;

// Reports that a language file cannot be handled, naming file_name (the LanguageFiles entry,
// or for the version reader the full path) in both languages.
void ReportLanguageFileError(const std::string& file_name);
// The same for a name already made a message piece (a full path in UTF-16, MessageText::Wide).
void ReportLanguageFileError(const MessageText& file_name);

// Returns the line after the first header for key in the folder file of the interface
// language (RussianLanguageIndex when RussianUI, else EnglishLanguageIndex), exactly as
// stored; empty when the key is missing, its header is the last line, or after a report.
std::string ReadLanguageKey(const std::string& key);

// Returns the block value of key in the same file: the value line and every further line up
// to the first blank one or the end of the file, joined with CR LF, without the value line
// when skip_first_line.
std::string ReadLanguageKeyLines(const std::string& key, bool skip_first_line);

// Returns the line after the first header for key in OpenLanguageFile; when that is empty
// (key missing or empty value line), falls back to the folder file: to the block value while
// KeepFolderFileOpen is true, else to the single line. After a report on OpenLanguageFile the
// result is empty, without fallback.
std::string ReadOpenLanguageKey(const std::string& key);

// Returns the block value of key in OpenLanguageFile, with the folder file as fallback. A
// value from the fallback always includes its first line: skip_first_line applies only to
// values found in OpenLanguageFile.
std::string ReadOpenLanguageKeyLines(const std::string& key, bool skip_first_line);

// ReadOpenLanguageKeyLines with the placeholders %1 to %4 filled from values
// (FillPlaceholders). Never fails on its own; an empty text stays empty.
std::string LanguageText(const std::string& key, const std::vector<std::string>& values,
                         bool skip_first_line);

}  // namespace kestrane
