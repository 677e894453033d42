#include "options.h"

#include <cstdio>

#include "text.h"

namespace robot {
namespace {

struct AnswerName {
  const char* name;
  int id;
};
constexpr AnswerName kAnswers[] = {{"ok", IDOK},       {"cancel", IDCANCEL}, {"abort", IDABORT},
                                   {"retry", IDRETRY}, {"ignore", IDIGNORE}, {"yes", IDYES},
                                   {"no", IDNO},       {"close", IDCLOSE},   {"help", IDHELP},
                                   {"tryagain", 10},   {"continue", 11}};

bool ParseNumber(const std::wstring& text, DWORD* value) {
  if (text.empty() || text.size() > 9) return false;
  DWORD v = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    v = v * 10 + static_cast<DWORD>(c - L'0');
  }
  *value = v;
  return true;
}

// Quotes one argument so that the C runtime of the started program splits it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"')
      out.append(backslashes * 2 + 1, L'\\');
    else
      out.append(backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

int AnswerId(const std::string& word) {
  for (const AnswerName& a : kAnswers) {
    if (word == a.name) return a.id;
  }
  return 0;
}

void Usage() {
  std::fprintf(
      stderr,
      "usage: robot.exe --transcript FILE [--answers a,b,...] [--timeout-ms N]\n"
      "                 [--poll-ms N] [--shots DIR] [--cwd DIR] [--output FILE] [--grace-ms N]\n"
      "                 -- program [arg...]\n"
      "answers: ok cancel abort retry ignore yes no close help tryagain continue\n");
}

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "robot: %s needs a value\n", Utf8(arg).c_str());
      return false;
    }
    std::wstring value = argv[++i];
    if (arg == L"--transcript") {
      options->transcript = value;
    } else if (arg == L"--answers") {
      std::string list = Utf8(value);
      size_t pos = 0;
      while (!list.empty() && pos <= list.size()) {
        size_t comma = list.find(',', pos);
        if (comma == std::string::npos) comma = list.size();
        std::string word = list.substr(pos, comma - pos);
        if (AnswerId(word) == 0) {
          std::fprintf(stderr, "robot: unknown answer \"%s\"\n", word.c_str());
          return false;
        }
        options->answers.push_back(word);
        pos = comma + 1;
      }
    } else if (arg == L"--timeout-ms") {
      if (!ParseNumber(value, &options->timeout_ms)) return false;
    } else if (arg == L"--poll-ms") {
      if (!ParseNumber(value, &options->poll_ms) || options->poll_ms == 0) return false;
    } else if (arg == L"--shots") {
      options->shots = value;
    } else if (arg == L"--grace-ms") {
      if (!ParseNumber(value, &options->grace_ms)) return false;
    } else if (arg == L"--cwd") {
      options->cwd = value;
    } else if (arg == L"--output") {
      options->output = value;
    } else {
      std::fprintf(stderr, "robot: unknown option %s\n", Utf8(arg).c_str());
      return false;
    }
  }
  if (options->transcript.empty() || i >= argc) return false;
  for (int first = i; i < argc; ++i) {
    if (i > first) options->command += L" ";
    // The program path is always quoted: an unquoted path with blanks would be split.
    options->command += i == first ? L"\"" + std::wstring(argv[i]) + L"\"" : QuoteArgument(argv[i]);
  }
  return true;
}

}  // namespace robot
