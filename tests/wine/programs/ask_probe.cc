// Asks a number of yes/no questions through AskQuestion, one after another, and exits with a
// code whose bit i is set when question i+1 was answered yes, so that a test can check what
// the robot pressed.
//   ask_probe.exe COUNT [ru|en] [quit]
// COUNT from 1 to 8; the language defaults to English. With "quit", a WM_QUIT is posted to
// the probe's own queue before the first question, as a quit request for a window that does
// not exist ends up there. Exits with 255 on a malformed command line.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "startup/messages.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4 || std::strlen(argv[1]) != 1 || argv[1][0] < '1' || argv[1][0] > '8' ||
      (argc == 4 && std::strcmp(argv[3], "quit") != 0)) {
    std::fprintf(stderr, "usage: ask_probe.exe COUNT(1-8) [ru|en] [quit]\n");
    return 255;
  }
  int count = argv[1][0] - '0';
  bool russian = argc >= 3 && std::strcmp(argv[2], "ru") == 0;
  if (argc == 4 && !PostMessageA(nullptr, WM_QUIT, 0, 0)) return 254;
  int answers = 0;
  for (int i = 0; i < count; ++i) {
    std::string number = std::to_string(i + 1);
    std::string text = russian ? "Вопрос " + number + "?" : "Question " + number + "?";
    const char* caption = russian ? "Проба" : "Probe";
    if (kestrane::AskQuestion(kestrane::MessageText::Program(text), caption, russian)) {
      answers |= 1 << i;
    }
  }
  return answers;
}
