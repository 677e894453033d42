#include <windows.h>

#include <string>

#include "startup/message_text_win.h"
#include "startup/messages.h"
#include "startup/startup_settings.h"

namespace kestrane {
namespace {

constexpr UINT kErrorStyle = MB_ICONERROR | MB_SERVICE_NOTIFICATION;                     // 0x200010
constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST;  // 0x42024

ErrorTitles& Titles() {
  static ErrorTitles titles;
  return titles;
}

}  // namespace

void SetErrorTitles(const ErrorTitles& titles) { Titles() = titles; }

void ReportError(const MessageText& english, const MessageText& russian) {
  if (g_startupSettings.RussianUI) {
    MessageBoxExW(nullptr, WideText(russian).c_str(),
                  WideText(MessageText::Program(Titles().Russian)).c_str(), kErrorStyle,
                  kRussianLanguage);
  } else {
    MessageBoxW(nullptr, WideText(english).c_str(),
                WideText(MessageText::Program(Titles().English)).c_str(), kErrorStyle);
  }
}

bool AskQuestion(const MessageText& text, const MessageText& caption, bool russian) {
  if (russian) return AskQuestionInLanguage(text, caption, kRussianLanguage);
  return MessageBoxW(nullptr, WideText(text).c_str(), WideText(caption).c_str(), kQuestionStyle) ==
         IDYES;
}

bool AskQuestionInLanguage(const MessageText& text, const MessageText& caption,
                           uint16_t language_id) {
  return MessageBoxExW(nullptr, WideText(text).c_str(), WideText(caption).c_str(), kQuestionStyle,
                       language_id) == IDYES;
}

}  // namespace kestrane
