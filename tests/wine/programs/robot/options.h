// The robot's command line: the transcript, the scripted answers, the limits and the program.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace robot {

struct Options {
  std::wstring transcript;
  std::vector<std::string> answers;  // answer words, each naming a button (AnswerId)
  DWORD timeout_ms = 60000;
  DWORD poll_ms = 20;
  DWORD grace_ms = 0;  // leave a box alone this long, for a program that answers its own
  std::wstring shots;
  std::wstring cwd;
  std::wstring output;   // receives the program's standard output and error
  std::wstring command;  // the program and its arguments, quoted for CreateProcessW
};

// Returns the button id of an answer word ("ok", "yes", "tryagain", ...), or 0 when the word
// names none.
int AnswerId(const std::string& word);

// Returns false on a malformed command line, after saying why on stderr (Usage() for the rest).
bool ParseOptions(int argc, wchar_t** argv, Options* options);
void Usage();

}  // namespace robot
