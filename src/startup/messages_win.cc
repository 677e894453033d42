#include <windows.h>

#include "startup/messages.h"
#include "startup/startup_settings.h"
#include "update/package_info.h"

namespace kestrane {
namespace {

constexpr UINT kErrorStyle = MB_ICONERROR | MB_SERVICE_NOTIFICATION;                     // 0x200010
constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST;  // 0x42024
constexpr WORD kRussianLanguage = 0x19;

}  // namespace

void ReportError(const std::string& english, const std::string& russian) {
  if (g_startupSettings.RussianUI) {
    MessageBoxExA(nullptr, russian.c_str(), g_packageInfo.TitleRussian.c_str(), kErrorStyle,
                  kRussianLanguage);
  } else {
    MessageBoxA(nullptr, english.c_str(), g_packageInfo.TitleEnglish.c_str(), kErrorStyle);
  }
}

bool AskQuestion(const std::string& text, const std::string& caption, bool russian) {
  if (russian) return AskQuestionInLanguage(text, caption, kRussianLanguage);
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), kQuestionStyle) == IDYES;
}

bool AskQuestionInLanguage(const std::string& text, const std::string& caption,
                           uint16_t language_id) {
  return MessageBoxExA(nullptr, text.c_str(), caption.c_str(), kQuestionStyle, language_id) ==
         IDYES;
}

}  // namespace kestrane
