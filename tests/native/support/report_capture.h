// Native stand-in for the message boxes: records every error report and answers questions
// from a script, so portable code that reports can be tested without windows.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kestrane {

struct CapturedMessage {
  enum Kind { kError, kQuestion } kind;
  std::string english_or_text;     // error: English text; question: the text
  std::string russian_or_caption;  // error: Russian text; question: the caption
  uint16_t language_id;            // questions: 0x19 for Russian, 0 for MessageBoxA
};

struct ReportCapture {
  std::vector<CapturedMessage> messages;
  std::deque<bool> answers;  // next answers to questions; "no" when empty
  void Clear() {
    messages.clear();
    answers.clear();
  }
};

extern ReportCapture g_reportCapture;

}  // namespace kestrane
