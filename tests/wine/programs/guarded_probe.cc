// Writes one file in guarded mode, as a fresh process would, and tells what came of it and
// what the progress window looks like afterwards.
//
//   guarded_probe TYPE TARGET SOURCE [LANGUAGE_FILE LANGUAGE_ID] [--linger-ms N]
//
// TYPE is the resource type (the kind of file), TARGET the file to write, SOURCE a file whose
// bytes are the new payload. With LANGUAGE_FILE (a full path) and LANGUAGE_ID (decimal or
// 0x hex), that file is the chosen language, so the question comes from it. --linger-ms keeps
// the process (and its windows) alive that long at the end, for a screenshot.
//
// Prints "outcome=written|kept|failed", then "progress=visible" with "caption=" and "status="
// lines (waiting up to 5 s for the window), or "progress=none". Exit code 0, or 2 for a
// command line it cannot use.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "installfolder/folder_handle_win.h"
#include "language/language_files.h"
#include "payload/guarded_write.h"

namespace {

// The text decoded from the ANSI code page, as the command line gave it.
std::u16string WideFromAnsi(const std::string& ansi) {
  if (ansi.empty()) return std::u16string();
  const int length = static_cast<int>(ansi.size());
  const int wide_length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  if (wide_length <= 0) return std::u16string();
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, &wide[0], wide_length);
  return std::u16string(wide.begin(), wide.end());
}

constexpr DWORD kWindowWaitMillis = 5000;
constexpr DWORD kMaxLingerMillis = 60000;

BOOL CALLBACK FindVisibleProgressWindow(HWND window, LPARAM found) {
  char class_name[64] = "";
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  if (GetClassNameA(window, class_name, sizeof class_name) == 0) return TRUE;
  if (lstrcmpA(class_name, "PlainWindow") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

HWND WaitForProgressWindow() {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND window = nullptr;
    EnumWindows(FindVisibleProgressWindow, reinterpret_cast<LPARAM>(&window));
    if (window != nullptr || GetTickCount() - start >= kWindowWaitMillis) return window;
    Sleep(20);
  }
}

std::string TextOf(HWND window) {
  if (window == nullptr) return "<none>";
  char buffer[1024] = "";
  const int length = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? length : 0);
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->append(buffer, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

int Usage(const char* why) {
  std::fprintf(stderr, "guarded_probe: %s\n", why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words;
  DWORD linger = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--linger-ms" && i + 1 < argc) {
      linger = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
      if (linger > kMaxLingerMillis) return Usage("--linger-ms is at most 60000");
    } else {
      words.push_back(argv[i]);
    }
  }
  if (words.size() != 3 && words.size() != 5) return Usage("TYPE TARGET SOURCE [FILE ID]");
  std::string payload;
  if (!ReadWholeFile(words[2], &payload)) return Usage("the source cannot be read");
  if (words.size() == 5) {
    kestrane::LanguageSupport& language = kestrane::g_languageSupport;
    language.LanguageFiles = {words[3].substr(words[3].find_last_of('\\') + 1)};
    language.RussianLanguageIndex = language.EnglishLanguageIndex = 0;
    language.CurrentLanguageIndex = 0;
    language.CurrentLanguageId = static_cast<int32_t>(std::strtol(words[4].c_str(), nullptr, 0));
    language.OpenLanguageFileName = words[3];
  }

  // The target's folder is held for the write, as the update run holds the install folder.
  const size_t slash = words[1].find_last_of('\\');
  const std::string folder_path = slash == std::string::npos ? "" : words[1].substr(0, slash + 1);
  const std::string name = words[1].substr(slash == std::string::npos ? 0 : slash + 1);
  const kestrane::HeldFolder folder(WideFromAnsi(folder_path));
  const kestrane::WriteOutcome outcome =
      folder.held() ? kestrane::WriteGuarded(payload.data(), payload.size(), words[0], folder,
                                             WideFromAnsi(name))
                    : kestrane::WriteOutcome::kFailed;
  std::printf("outcome=%s\n", outcome == kestrane::WriteOutcome::kWritten ? "written"
                              : outcome == kestrane::WriteOutcome::kKept  ? "kept"
                                                                          : "failed");
  HWND window = WaitForProgressWindow();
  if (window == nullptr) {
    std::printf("progress=none\n");
  } else {
    std::printf("progress=visible\ncaption=%s\nstatus=%s\n", TextOf(window).c_str(),
                TextOf(GetWindow(window, GW_CHILD)).c_str());
  }
  std::fflush(stdout);
  if (linger > 0) Sleep(linger);
  return 0;
}
