// Native stand-in for the message boxes: records every error report and answers questions
// from a script, so portable code that reports can be tested without windows.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "startup/message_text.h"

namespace kestrane {

struct CapturedMessage {
  enum Kind { kError, kQuestion } kind;
  std::string english_or_text;     // error: English text; question: the text (all bytes)
  std::string russian_or_caption;  // error: Russian text; question: the caption (all bytes)
  uint16_t language_id;            // questions: 0x19 for Russian, 0 for MessageBoxW
  MessageText first;               // english_or_text with the source of each piece
  MessageText second;              // russian_or_caption with the source of each piece
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
