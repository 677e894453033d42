// Turning a message's pieces into the UTF-16 text the wide message-box functions show.
#pragma once

#include <windows.h>

#include <string>

#include "startup/message_text.h"

namespace kestrane {

// Returns the code page of a language's ANSI texts (1251 for Russian, 1252 for English), or
// CP_ACP when Windows knows no ANSI code page for it.
UINT LanguageCodePage(uint16_t language_id);

// Returns the text of every piece decoded from its own code page: the program's texts from
// 1251, system texts from the ANSI code page, language-file texts from their language's code
// page, UTF-8 pieces as UTF-8. Bytes a code page lacks become what MultiByteToWideChar makes
// of them; nothing is dropped.
std::wstring WideText(const MessageText& text);

// Returns UTF-16 text as UTF-8, for a MessageText::Utf8 piece; unpaired surrogates become
// U+FFFD.
std::string Utf8FromWide(const std::wstring& wide);

}  // namespace kestrane
