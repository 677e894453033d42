// Starts copies of an update package and watches from outside what they do to the install
// folder and the registry, for the reliability runs (tests/reliability):
//
//   kill_watch --folder DIR --file NAME --payload-size N [--size-key KEY] [--kill-at-us N]
//              [--kill-after W] [--copies N] [--answer yes|no|ok] [--answer-after-ms N]
//              [--turn-into-folder]
//              [--timeout-ms N] -- package.exe [arg...]
//
// The copies are created suspended and resumed together; the clock starts at the resume.
// Until they have ended, the watcher polls the temporary file DIR\~NAME (there, its size),
// the target DIR\NAME (its size, write time and kind against those at the start),
// "EstimatedSize" under HKLM\KEY (64-bit view), the stand-in host's log DIR\standin.log and
// the copies' message boxes. A box is answered once it has been up --answer-after-ms (default
// 50) with --answer when it has that button, else with OK, Cancel or No. --kill-at-us ends
// copy 0 with TerminateProcess that long after the resume, or with --kill-after W that long
// after W (a sighting below) was first seen. --turn-into-folder replaces the target by a
// folder when the temporary file is first seen.
//
// Output, one JSON object a line, as things happen:
//   {"event":"seen","what":W,"t_us":T}  first sighting of W: temp, temp_full,
//       target_changed, size_changed, host_log, box, box_answered, turned_into_folder
//   {"event":"box","copy":C,"t_us":T,"caption_hex":..,"text_hex":..,"answer":ID}
//   {"event":"kill","t_us":T,"alive":true|false}   alive: copy 0 was still running
//   {"event":"exit","copy":C,"exit_code":N,"t_us":T}
//   {"event":"state","temp_size":N|-1,"target_size":N|-1,"target_is_folder":B,"size":N|-1}
// Exit codes of its own: 0 done, 2 usage, 3 a copy did not start, 4 a copy outlived the
// time limit (it is ended).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kUsage = 2;
constexpr int kStartFailed = 3;
constexpr int kOutlived = 4;
constexpr int kMaxCopies = 8;
constexpr UINT kKilledExitCode = 0xDEAD;
constexpr DWORD kStaticTextId = 0xFFFF;
constexpr int64_t kBoxLookUs = 5000;
constexpr int64_t kQuietBeforeKillUs = 3000;

struct Options {
  std::string folder;  // with a trailing backslash
  std::string file;
  std::string size_key;
  uint64_t payload_size = 0;
  int64_t kill_at_us = -1;
  std::string kill_after;  // a sighting the kill moment counts from; empty: the start
  int copies = 1;
  int answer = IDOK;
  DWORD answer_after_ms = 50;
  bool turn_into_folder = false;
  DWORD timeout_ms = 120000;
  std::string command;  // the package and its arguments, quoted
};

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool ParseNumber(const char* text, uint64_t* value) {
  const size_t length = std::strlen(text);
  if (length == 0 || length > 15) return false;
  uint64_t v = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  *value = v;
  return true;
}

// Returns false on a malformed command line.
bool ParseOptions(int argc, char** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--turn-into-folder") {
      options->turn_into_folder = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    uint64_t number = 0;
    const bool numeric = ParseNumber(value, &number);
    if (arg == "--folder") {
      options->folder = value;
      if (options->folder.empty()) return false;
      if (options->folder.back() != '\\') options->folder += '\\';
    } else if (arg == "--file") {
      options->file = value;
    } else if (arg == "--size-key") {
      options->size_key = value;
    } else if (arg == "--payload-size" && numeric) {
      options->payload_size = number;
    } else if (arg == "--kill-after") {
      options->kill_after = value;
    } else if (arg == "--kill-at-us" && numeric) {
      options->kill_at_us = static_cast<int64_t>(number);
    } else if (arg == "--copies" && numeric && number >= 1 && number <= kMaxCopies) {
      options->copies = static_cast<int>(number);
    } else if (arg == "--answer-after-ms" && numeric && number < 600000) {
      options->answer_after_ms = static_cast<DWORD>(number);
    } else if (arg == "--timeout-ms" && numeric && number >= 1000 && number < 3600000) {
      options->timeout_ms = static_cast<DWORD>(number);
    } else if (arg == "--answer") {
      const std::string word = value;
      if (word == "yes") {
        options->answer = IDYES;
      } else if (word == "no") {
        options->answer = IDNO;
      } else if (word == "ok") {
        options->answer = IDOK;
      } else {
        return false;
      }
    } else {
      return false;
    }
  }
  if (i >= argc || options->folder.empty() || options->file.empty()) return false;
  for (int first = i; i < argc; ++i) {
    if (i > first) options->command += ' ';
    options->command += QuoteArgument(argv[i]);
  }
  return true;
}

class Clock {
 public:
  Clock() {
    QueryPerformanceFrequency(&frequency_);
    Restart();
  }
  void Restart() { QueryPerformanceCounter(&start_); }
  int64_t Micros() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start_.QuadPart) * 1000000 / frequency_.QuadPart;
  }

 private:
  LARGE_INTEGER frequency_;
  LARGE_INTEGER start_;
};

// What a file looks like from outside, without opening it (an open handle could make the
// package's own replace fail).
struct FileLook {
  bool exists = false;
  bool is_folder = false;
  uint64_t size = 0;
  FILETIME written = {0, 0};

  bool operator==(const FileLook& other) const {
    return exists == other.exists && is_folder == other.is_folder && size == other.size &&
           written.dwLowDateTime == other.written.dwLowDateTime &&
           written.dwHighDateTime == other.written.dwHighDateTime;
  }
};

FileLook LookAt(const std::string& path) {
  FileLook look;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return look;
  look.exists = true;
  look.is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  look.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  look.written = data.ftLastWriteTime;
  return look;
}

// "EstimatedSize" under one key of HKLM (64-bit view), read through a key kept open so that
// a look costs one request.
class SizeValue {
 public:
  explicit SizeValue(const std::string& key_path) : path_(key_path) {}
  ~SizeValue() { Close(); }
  SizeValue(const SizeValue&) = delete;
  SizeValue& operator=(const SizeValue&) = delete;

  // Returns the value, or -1 when the key or a DWORD value is missing.
  int64_t Read() {
    if (path_.empty()) return -1;
    if (key_ == nullptr &&
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      &key_) != ERROR_SUCCESS) {
      key_ = nullptr;
      return -1;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG status = RegQueryValueExA(key_, "EstimatedSize", nullptr, &type,
                                         reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_KEY_DELETED) Close();  // opened again on the next look
    return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value ? value : -1;
  }

 private:
  void Close() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
  }

  std::string path_;
  HKEY key_ = nullptr;
};

// One started copy; its handles are closed with it. The copies live in a vector made once at
// its final size, so they are never moved.
struct Copy {
  Copy() = default;
  ~Copy() {
    if (process != nullptr) CloseHandle(process);
    if (thread != nullptr) CloseHandle(thread);
  }
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;

  HANDLE process = nullptr;
  HANDLE thread = nullptr;
  DWORD pid = 0;
  bool ended = false;
};

struct Box {
  HWND window;
  int copy;
  int64_t seen_us;
  bool answered;
};

struct BoxSearch {
  const std::vector<Copy>* copies;
  std::vector<std::pair<HWND, int>> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  char name[16] = {};
  if (GetClassNameA(window, name, sizeof name) == 0 || std::strcmp(name, "#32770") != 0 ||
      !IsWindowVisible(window)) {
    return TRUE;
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  for (size_t i = 0; i < search->copies->size(); ++i) {
    if ((*search->copies)[i].pid == pid) search->found.emplace_back(window, static_cast<int>(i));
  }
  return search->found.size() < 64;
}

std::string WindowText(HWND window) {
  char text[4096] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string BoxText(HWND box) {
  char text[8192] = {};
  GetDlgItemTextA(box, kStaticTextId, text, sizeof text);
  return text;
}

class Watcher {
 public:
  Watcher(const Options& options, const Clock& clock)
      : options_(options),
        clock_(clock),
        temp_(options.folder + "~" + options.file),
        target_(options.folder + options.file),
        host_log_(options.folder + "standin.log"),
        initial_target_(LookAt(target_)),
        size_(options.size_key),
        initial_size_(size_.Read()),
        initial_host_log_(LookAt(host_log_).exists) {}

  // One look at everything; prints what is seen for the first time.
  void Poll(std::vector<Copy>& copies) {
    const FileLook temp = LookAt(temp_);
    if (temp.exists) {
      Seen("temp");
      if (temp.size >= options_.payload_size) Seen("temp_full");
      if (options_.turn_into_folder && !turned_) {
        turned_ = true;
        DeleteFileA(target_.c_str());
        if (CreateDirectoryA(target_.c_str(), nullptr)) Seen("turned_into_folder");
      }
    }
    if (!(LookAt(target_) == initial_target_) && !turned_) Seen("target_changed");
    if (size_.Read() != initial_size_) Seen("size_changed");
    if (!initial_host_log_ && LookAt(host_log_).exists) Seen("host_log");
    // Boxes take several requests to find; a few milliseconds late is soon enough.
    if (clock_.Micros() - boxes_looked_us_ >= kBoxLookUs) {
      boxes_looked_us_ = clock_.Micros();
      HandleBoxes(copies);
    }
  }

  // Returns when what was first seen, or -1 while it has not been.
  int64_t SeenAt(const std::string& what) const {
    const auto found = seen_.find(what);
    return found == seen_.end() ? -1 : found->second;
  }

  void PrintState() {
    const FileLook temp = LookAt(temp_);
    const FileLook target = LookAt(target_);
    std::printf(
        "{\"event\":\"state\",\"temp_size\":%lld,\"target_size\":%lld,"
        "\"target_is_folder\":%s,\"size\":%lld}\n",
        temp.exists ? static_cast<long long>(temp.size) : -1LL,
        target.exists ? static_cast<long long>(target.size) : -1LL,
        target.is_folder ? "true" : "false", static_cast<long long>(size_.Read()));
  }

 private:
  void Seen(const std::string& what) {
    const int64_t now = clock_.Micros();
    if (!seen_.emplace(what, now).second) return;
    std::printf("{\"event\":\"seen\",\"what\":\"%s\",\"t_us\":%lld}\n", what.c_str(),
                static_cast<long long>(now));
    std::fflush(stdout);
  }

  void HandleBoxes(std::vector<Copy>& copies) {
    BoxSearch search{&copies, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    const int64_t now = clock_.Micros();
    for (const auto& [window, copy] : search.found) {
      Box* box = Find(window);
      if (box == nullptr) {
        boxes_.push_back({window, copy, now, false});
        Seen("box");
        continue;
      }
      if (box->answered || now - box->seen_us < int64_t{options_.answer_after_ms} * 1000) continue;
      int answer = options_.answer;
      for (int fallback : {IDOK, IDCANCEL, IDNO}) {
        if (GetDlgItem(window, answer) != nullptr) break;
        answer = fallback;
      }
      std::printf(
          "{\"event\":\"box\",\"copy\":%d,\"t_us\":%lld,\"caption_hex\":\"%s\","
          "\"text_hex\":\"%s\",\"answer\":%d}\n",
          copy, static_cast<long long>(box->seen_us), Hex(WindowText(window)).c_str(),
          Hex(BoxText(window)).c_str(), answer);
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(window, answer)));
      box->answered = true;
      Seen("box_answered");
    }
  }

  Box* Find(HWND window) {
    for (Box& box : boxes_) {
      if (box.window == window) return &box;
    }
    return nullptr;
  }

  const Options& options_;
  const Clock& clock_;
  const std::string temp_;
  const std::string target_;
  const std::string host_log_;
  const FileLook initial_target_;
  SizeValue size_;
  const int64_t initial_size_;
  int64_t boxes_looked_us_ = -kBoxLookUs;
  const bool initial_host_log_;
  bool turned_ = false;
  std::map<std::string, int64_t> seen_;  // first sighting of each thing, bounded by the kinds
  std::vector<Box> boxes_;               // bounded by the copies' boxes, each answered once
};

void PrintExit(int copy, HANDLE process, int64_t t_us) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) code = 0xFFFFFFFF;
  std::printf("{\"event\":\"exit\",\"copy\":%d,\"exit_code\":%lu,\"t_us\":%lld}\n", copy, code,
              static_cast<long long>(t_us));
  std::fflush(stdout);
}

int Run(const Options& options) {
  std::vector<Copy> copies(static_cast<size_t>(options.copies));
  for (Copy& copy : copies) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> command(options.command.begin(), options.command.end());
    command.push_back('\0');
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info)) {
      std::fprintf(stderr, "kill_watch: cannot start %s (error %lu)\n", options.command.c_str(),
                   GetLastError());
      for (Copy& started : copies) {
        if (started.process != nullptr) TerminateProcess(started.process, kKilledExitCode);
      }
      return kStartFailed;
    }
    copy.process = info.hProcess;
    copy.thread = info.hThread;
    copy.pid = info.dwProcessId;
  }

  Clock clock;
  Watcher watcher(options, clock);  // the look at the start, before any copy runs
  clock.Restart();
  for (Copy& copy : copies) ResumeThread(copy.thread);

  bool kill_pending = options.kill_at_us >= 0;
  // The kill's moment by this program's clock, once its anchor has been seen.
  int64_t kill_at = options.kill_after.empty() ? options.kill_at_us : -1;
  size_t running = copies.size();
  int result = 0;
  while (running > 0) {
    // Right before the kill the looks wait, so that the kill comes on time.
    if (!kill_pending || kill_at < 0 || kill_at - clock.Micros() > kQuietBeforeKillUs) {
      watcher.Poll(copies);
    }
    if (kill_pending && kill_at < 0 && watcher.SeenAt(options.kill_after) >= 0) {
      kill_at = watcher.SeenAt(options.kill_after) + options.kill_at_us;
    }
    const int64_t now = clock.Micros();
    if (kill_pending && kill_at >= 0 && now >= kill_at) {
      kill_pending = false;
      Copy& victim = copies[0];
      const bool alive = WaitForSingleObject(victim.process, 0) == WAIT_TIMEOUT;
      if (alive) {
        TerminateProcess(victim.process, kKilledExitCode);
        WaitForSingleObject(victim.process, 10000);
      }
      std::printf("{\"event\":\"kill\",\"t_us\":%lld,\"alive\":%s}\n", static_cast<long long>(now),
                  alive ? "true" : "false");
      std::fflush(stdout);
    }
    if (now > int64_t{options.timeout_ms} * 1000) {
      for (Copy& copy : copies) {
        if (!copy.ended) TerminateProcess(copy.process, kKilledExitCode);
      }
      result = kOutlived;
    }
    bool paused = false;
    for (size_t i = 0; i < copies.size(); ++i) {
      Copy& copy = copies[i];
      if (copy.ended) continue;
      // The wait on the first running copy is the loop's pause (about 1 ms a round).
      const DWORD wait_ms = paused ? 0 : 1;
      paused = true;
      if (WaitForSingleObject(copy.process, wait_ms) == WAIT_OBJECT_0) {
        copy.ended = true;
        --running;
        PrintExit(static_cast<int>(i), copy.process, clock.Micros());
      }
    }
  }
  if (kill_pending) {
    // The copy ended before the moment came (or before its anchor was seen).
    std::printf("{\"event\":\"kill\",\"t_us\":%lld,\"alive\":false}\n",
                static_cast<long long>(kill_at >= 0 ? kill_at : clock.Micros()));
  }
  watcher.Poll(copies);
  watcher.PrintState();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: kill_watch --folder DIR --file NAME --payload-size N [--size-key KEY]\n"
                 "       [--kill-at-us N] [--kill-after W] [--copies N] [--answer yes|no|ok]\n"
                 "       [--answer-after-ms N] [--turn-into-folder] [--timeout-ms N]\n"
                 "       -- package.exe [arg...]\n");
    return kUsage;
  }
  return Run(options);
}
