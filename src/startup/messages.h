// The one way the installer tells the user something: bilingual error boxes and yes/no
// questions. Declared here so that portable code can report; the Win32 side implements them
// (messages_win.cc) and the native tests link a recording double instead.
#pragma once

#include <cstdint>
#include <string>

namespace kestrane {

// Shows a modal error box in the interface language (StartupSettings::RussianUI): the Russian
// text under TitleRussian, or the English text under TitleEnglish. Returns when dismissed.
void ReportError(const std::string& english, const std::string& russian);

// Asks a yes/no question in the question style; Russian questions go through MessageBoxExA
// with language 0x19, English ones through MessageBoxA. Returns true only for the answer yes.
bool AskQuestion(const std::string& text, const std::string& caption, bool russian);

// Asks a yes/no question through MessageBoxExA with the given language identifier.
// Returns true only for the answer yes.
bool AskQuestionInLanguage(const std::string& text, const std::string& caption,
                           uint16_t language_id);

}  // namespace kestrane
