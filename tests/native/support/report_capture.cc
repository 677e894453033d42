#include "report_capture.h"

#include "startup/messages.h"

namespace kestrane {

ReportCapture g_reportCapture;

void ReportError(const std::string& english, const std::string& russian) {
  g_reportCapture.messages.push_back({CapturedMessage::kError, english, russian, 0});
}

bool AskQuestionInLanguage(const std::string& text, const std::string& caption,
                           uint16_t language_id) {
  g_reportCapture.messages.push_back({CapturedMessage::kQuestion, text, caption, language_id});
  if (g_reportCapture.answers.empty()) return false;
  bool answer = g_reportCapture.answers.front();
  g_reportCapture.answers.pop_front();
  return answer;
}

bool AskQuestion(const std::string& text, const std::string& caption, bool russian) {
  return AskQuestionInLanguage(text, caption, russian ? 0x19 : 0);
}

}  // namespace kestrane
