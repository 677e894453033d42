// The one way the installer tells the user something: bilingual error boxes and yes/no
// questions. Declared here so that portable code can report; the Win32 side implements them
// (messages_win.cc) and the native tests link a recording double instead. Texts are shown
// through the wide message-box functions, each piece decoded from its own code page
// (message_text.h), so they read the same on every system.
#pragma once

#include <cstdint>
#include <string>

#include "startup/message_text.h"

namespace kestrane {

// The language identifier Russian boxes are shown with (LANG_RUSSIAN), so that their buttons
// read in Russian where Windows has the texts.
constexpr uint16_t kRussianLanguage = 0x19;

// The captions of the error boxes: the package's product titles, in code page 1251.
struct ErrorTitles {
  std::string Russian;
  std::string English;
};

// Sets the captions every later ReportError shows; both are empty until the update run sets
// them.
void SetErrorTitles(const ErrorTitles& titles);

// Shows a modal error box in the interface language (StartupSettings::RussianUI): the Russian
// text under the Russian title through MessageBoxExW with language 0x19, or the English text
// under the English title through MessageBoxW. Returns when dismissed.
void ReportError(const MessageText& english, const MessageText& russian);

// Asks a yes/no question in the question style; Russian questions go through MessageBoxExW
// with language 0x19, English ones through MessageBoxW. Returns true only for the answer yes.
bool AskQuestion(const MessageText& text, const MessageText& caption, bool russian);

// Asks a yes/no question through MessageBoxExW with the given language identifier.
// Returns true only for the answer yes.
bool AskQuestionInLanguage(const MessageText& text, const MessageText& caption,
                           uint16_t language_id);

}  // namespace kestrane
