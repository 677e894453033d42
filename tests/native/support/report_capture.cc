#include "report_capture.h"

#include "startup/messages.h"

namespace kestrane {

ReportCapture g_reportCapture;

void ReportError(const MessageText& english, const MessageText& russian) {
  g_reportCapture.messages.push_back(
      {CapturedMessage::kError, english.Bytes(), russian.Bytes(), 0, english, russian});
}

bool AskQuestionInLanguage(const MessageText& text, const MessageText& caption,
                           uint16_t language_id) {
  g_reportCapture.messages.push_back(
      {CapturedMessage::kQuestion, text.Bytes(), caption.Bytes(), language_id, text, caption});
  if (g_reportCapture.answers.empty()) return false;
  bool answer = g_reportCapture.answers.front();
  g_reportCapture.answers.pop_front();
  return answer;
}

bool AskQuestion(const MessageText& text, const MessageText& caption, bool russian) {
  return AskQuestionInLanguage(text, caption, russian ? 0x19 : 0);
}

}  // namespace kestrane
