// The dialog robot: starts a program, answers its message boxes from a script and writes what
// it saw as JSON lines, so that end-to-end tests can assert on exactly what a user would see.
//
//   robot.exe --transcript FILE [--answers yes,no,ok] [--timeout-ms N] [--poll-ms N]
//             [--shots DIR] [--cwd DIR] [--output FILE] [--grace-ms N]
//             -- program.exe [arg...]
//   robot.exe --serve FOLDER
// The second form runs the first form's command lines, one word a line, from request files
// in the folder (serve_loop.h) and answers each with "exit=<robot exit code>", so that a test
// run starts the robot once per locale. Its programs inherit its locale.
//
// Transcript records (one JSON object a line, written as they happen):
//   {"event":"start", "pid", "acp", "lcid", "command_hex"}
//   {"event":"box", "index", "t_ms", "pid", "main", "caption_hex", "text_hex",
//    "caption_w_hex", "text_w_hex", "caption", "text", "buttons":[{"id","text_hex",
//    "text_w_hex"}], "icon", "style", "answer", "answer_id", "expected", "reason", "shot"}
//   {"event":"exit", "t_ms", "exit_code", "timed_out", "left_over":[...], "boxes",
//    "unexpected"}
// The *_hex fields are the ANSI bytes in the process code page ("acp"), as a program that
// reads the box through the ANSI functions gets them; the *_w_hex fields are the UTF-16LE
// code units of the wide functions (GetWindowTextW, GetDlgItemTextW), which is what the box
// shows; "caption" and "text" are the wide texts as UTF-8 for reading. A box counts as unexpected
// when no scripted answer is left for it or its scripted button is missing; it is then closed with
// a button it has. A box that closed by itself before it could be answered is recorded as
// "vanished" and takes no answer. With --grace-ms, a box is left alone until it has been up that
// long (for a program that answers its own boxes) and then handled as above.
//
// The parts live in robot/: options (the command line and the answer words), boxes (finding
// and answering them), process_tree, icons (which system icon a box shows), screenshot,
// transcript (JSON lines) and text (window texts, hex, UTF-8).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "robot/boxes.h"
#include "robot/options.h"
#include "robot/transcript.h"
#include "robot/text.h"
#include "serve_loop.h"
#include "startup/scoped_handle_win.h"

namespace robot {
namespace {

int Run(const Options& options) {
  Transcript transcript(options.transcript);
  if (!transcript.valid()) {
    std::fprintf(stderr, "robot: cannot create the transcript (%lu)\n", GetLastError());
    return 2;
  }
  if (!options.shots.empty()) CreateDirectoryW(options.shots.c_str(), nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  kestrane::ScopedHandle output(options.output.empty()
                                    ? nullptr
                                    : CreateFileW(options.output.c_str(), GENERIC_WRITE,
                                                  FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!options.output.empty()) {
    if (!output.valid()) {
      std::fprintf(stderr, "robot: cannot create the output file (%lu)\n", GetLastError());
      return 2;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
  }
  PROCESS_INFORMATION info = {};
  std::vector<wchar_t> command(options.command.begin(), options.command.end());
  command.push_back(L'\0');
  ULONGLONG start = GetTickCount64();
  // Only the output file is inheritable; without one nothing is inherited.
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, output.valid(), 0, nullptr,
                      options.cwd.empty() ? nullptr : options.cwd.c_str(), &startup, &info)) {
    DWORD error = GetLastError();
    transcript.Write("{\"event\":\"start_failed\",\"error\":" + std::to_string(error) +
                     ",\"command_hex\":\"" + Hex(Utf8(options.command)) + "\"}");
    std::fprintf(stderr, "robot: cannot start the program (%lu)\n", error);
    return 3;
  }
  kestrane::ScopedHandle process(info.hProcess);
  kestrane::ScopedHandle thread(info.hThread);
  transcript.Write("{\"event\":\"start\",\"pid\":" + std::to_string(info.dwProcessId) +
                   ",\"acp\":" + std::to_string(GetACP()) +
                   ",\"lcid\":" + std::to_string(GetUserDefaultLCID()) + ",\"command_hex\":\"" +
                   Hex(Utf8(options.command)) + "\"}");

  Robot robot(options, transcript, info.dwProcessId, start);
  bool timed_out = false;
  for (;;) {
    robot.Poll();
    DWORD wait = WaitForSingleObject(process.get(), options.poll_ms);
    if (wait == WAIT_OBJECT_0) {
      robot.Poll();  // a box shown by a process the program started may still be up
      break;
    }
    if (wait == WAIT_FAILED) {
      std::fprintf(stderr, "robot: wait failed (%lu)\n", GetLastError());
      break;
    }
    if (robot.Elapsed() >= options.timeout_ms) {
      timed_out = true;
      robot.Tree().TerminateAll();
      WaitForSingleObject(process.get(), 5000);
      break;
    }
  }

  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.get(), &exit_code)) exit_code = 0xFFFFFFFF;
  std::string left_over = "[";
  for (size_t i = robot.NextAnswer(); i < options.answers.size(); ++i) {
    if (i > robot.NextAnswer()) left_over += ",";
    left_over += Json(options.answers[i]);
  }
  left_over += "]";
  transcript.Write("{\"event\":\"exit\",\"t_ms\":" + std::to_string(robot.Elapsed()) +
                   ",\"exit_code\":" + std::to_string(exit_code) +
                   ",\"timed_out\":" + (timed_out ? "true" : "false") +
                   ",\"left_over\":" + left_over + ",\"boxes\":" + std::to_string(robot.Boxes()) +
                   ",\"unexpected\":" + std::to_string(robot.Unexpected()) + "}");
  return 0;
}

int RunCommandLine(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  return Run(options);
}

}  // namespace
}  // namespace robot

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) {
    std::fprintf(stderr, "robot: cannot read the command line\n");
    return 2;
  }
  std::wstring first = argc > 1 ? argv[1] : L"";
  if (argc == 3 && first == L"--serve") {
    std::wstring folder = argv[2];
    LocalFree(argv);
    return serve::ServeRequests(folder, [](const std::vector<std::string>& lines) {
      std::vector<std::wstring> words(1, L"robot.exe");
      for (const std::string& line : lines) words.push_back(serve::Wide(line));
      std::vector<wchar_t*> pointers;
      for (std::wstring& w : words) pointers.push_back(&w[0]);
      int code = robot::RunCommandLine(static_cast<int>(pointers.size()), pointers.data());
      std::fflush(stderr);
      return "exit=" + std::to_string(code) + "\n";
    });
  }
  int code = robot::RunCommandLine(argc, argv);
  LocalFree(argv);
  return code;
}
