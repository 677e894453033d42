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
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "serve_loop.h"

namespace {

constexpr int kMaxTextChars = 65536;
constexpr DWORD kStaticTextId = 0xFFFF;
constexpr int kIconControlId = 0x0440;  // the icon static of the system message box

// ---- small owning wrappers ----

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() { Reset(nullptr); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h) {
    if (Valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_;
};

// ---- text helpers ----

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], size,
                      nullptr, nullptr);
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// The UTF-16LE code units of a wide text as hex.
std::string Hex(const std::wstring& wide) {
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (wchar_t c : wide) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  return Hex(bytes);
}

std::string Json(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string WindowTextA(HWND window) {
  std::vector<char> buf(kMaxTextChars);
  int n = GetWindowTextA(window, buf.data(), kMaxTextChars);
  return std::string(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring WindowTextW(HWND window) {
  std::vector<wchar_t> buf(kMaxTextChars);
  int n = GetWindowTextW(window, buf.data(), kMaxTextChars);
  return std::wstring(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring DialogItemTextW(HWND dialog, int id) {
  std::vector<wchar_t> buf(kMaxTextChars);
  UINT n = GetDlgItemTextW(dialog, id, buf.data(), kMaxTextChars);
  return std::wstring(buf.data(), n);
}

std::string ClassName(HWND window) {
  char buf[256];
  int n = GetClassNameA(window, buf, sizeof buf);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
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

// ---- answers ----

struct AnswerName {
  const char* name;
  int id;
};
constexpr AnswerName kAnswers[] = {{"ok", IDOK},       {"cancel", IDCANCEL}, {"abort", IDABORT},
                                   {"retry", IDRETRY}, {"ignore", IDIGNORE}, {"yes", IDYES},
                                   {"no", IDNO},       {"close", IDCLOSE},   {"help", IDHELP},
                                   {"tryagain", 10},   {"continue", 11}};

// Returns the button id of an answer word, or 0 when the word names none.
int AnswerId(const std::string& word) {
  for (const AnswerName& a : kAnswers) {
    if (word == a.name) return a.id;
  }
  return 0;
}

// ---- the transcript ----

class Transcript {
 public:
  bool Open(const std::wstring& path) {
    file_.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.Valid();
  }
  // Writes one record; a failed write is reported on stderr and the run goes on.
  void Write(const std::string& line) {
    std::string data = line + "\n";
    DWORD written = 0;
    if (!WriteFile(file_.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
        written != data.size()) {
      std::fprintf(stderr, "robot: transcript write failed (%lu)\n", GetLastError());
    }
  }

 private:
  Handle file_;
};

// ---- screenshots ----

// Saves the screen rectangle of the window as a 24-bit BMP. Returns false on any failure.
bool SaveWindowShot(HWND window, const std::wstring& path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return false;
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  bool ok = false;
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap =
      memory ? CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY)) {
      GdiFlush();
      DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
      DWORD image_size = stride * static_cast<DWORD>(height);
      BITMAPFILEHEADER header = {};
      header.bfType = 0x4D42;  // "BM"
      header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
      header.bfSize = header.bfOffBits + image_size;
      Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
      DWORD n1 = 0, n2 = 0, n3 = 0;
      ok = file.Valid() && WriteFile(file.Get(), &header, sizeof header, &n1, nullptr) &&
           WriteFile(file.Get(), &info.bmiHeader, sizeof(BITMAPINFOHEADER), &n2, nullptr) &&
           WriteFile(file.Get(), bits, image_size, &n3, nullptr) && n3 == image_size;
    }
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

// ---- the process tree ----

// The started program and every process it started, directly or through others.
class ProcessTree {
 public:
  explicit ProcessTree(DWORD root) { pids_.insert(root); }
  bool Contains(DWORD pid) const { return pids_.count(pid) != 0; }
  // Adds the processes whose parent is in the tree. Bounded by the snapshot's size.
  void Refresh() {
    Handle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap.Valid()) return;
    for (int pass = 0; pass < 4; ++pass) {  // grandchildren listed before their parents
      bool grew = false;
      PROCESSENTRY32W entry = {};
      entry.dwSize = sizeof entry;
      for (BOOL more = Process32FirstW(snap.Get(), &entry); more;
           more = Process32NextW(snap.Get(), &entry)) {
        if (Contains(entry.th32ParentProcessID) && !Contains(entry.th32ProcessID)) {
          pids_.insert(entry.th32ProcessID);
          grew = true;
        }
      }
      if (!grew) break;
    }
  }
  // Ends every process of the tree except the robot itself.
  void TerminateAll() const {
    for (DWORD pid : pids_) {
      if (pid == GetCurrentProcessId()) continue;
      Handle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
      if (process.Valid()) TerminateProcess(process.Get(), 0xDEAD);
    }
  }

 private:
  std::set<DWORD> pids_;
};

// ---- finding and answering boxes ----

struct Button {
  int id;
  HWND window;
  std::string text;
  std::wstring text_w;
};

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
  auto* buttons = reinterpret_cast<std::vector<Button>*>(param);
  // The button's own style, not IsWindowVisible: a box that is closing hides itself first.
  bool shown = (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0;
  if (buttons->size() < 32 && shown && ClassName(child) == "Button") {
    buttons->push_back({GetDlgCtrlID(child), child, WindowTextA(child), WindowTextW(child)});
  }
  return TRUE;
}

struct BoxSearch {
  const ProcessTree* tree;
  const std::set<HWND>* handled;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (!search->tree->Contains(pid) || search->handled->count(window) || !IsWindowVisible(window) ||
      ClassName(window) != "#32770") {
    return TRUE;
  }
  if (search->found.size() < 64) search->found.push_back(window);
  return TRUE;
}

// Reads the screen pixels of a rectangle (top-down, 0x00RRGGBB). Returns false on failure.
bool CaptureScreen(const RECT& r, std::vector<uint32_t>* pixels) {
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0 || width > 512 || height > 512) return false;
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap =
      memory ? CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  bool ok = false;
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY)) {
      GdiFlush();
      const auto* p = static_cast<const uint32_t*>(bits);
      pixels->assign(p, p + static_cast<size_t>(width) * height);
      for (uint32_t& px : *pixels) px &= 0xFFFFFF;
      ok = true;
    }
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

// Draws a system icon over a plain background, as the box's icon control draws it.
bool RenderIcon(int id, int width, int height, uint32_t background, std::vector<uint32_t>* out) {
  HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(id));
  if (!icon) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap && bits) {
    auto* p = static_cast<uint32_t*>(bits);
    std::fill(p, p + static_cast<size_t>(width) * height, background);
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL) != FALSE;
    GdiFlush();
    out->assign(p, p + static_cast<size_t>(width) * height);
    for (uint32_t& px : *out) px &= 0xFFFFFF;
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

int Differs(uint32_t a, uint32_t b) {
  int d = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int x = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    d = std::max(d, x < 0 ? -x : x);
  }
  return d;
}

// Names the system icon the box shows: the icon handle belongs to the box's process, so its
// pixels on the screen are compared with the system icons drawn here. Waits up to 5 s for
// the box to paint (a loaded or emulated machine paints late); "unknown" when none matches
// by then.
const char* IconName(HWND box) {
  HWND control = GetDlgItem(box, kIconControlId);
  if (!control || !IsWindowVisible(control)) return "none";
  struct Known {
    int id;
    const char* name;
  };
  const Known known[] = {{32513, "error"},  // IDI_HAND
                         {32514, "question"},
                         {32515, "warning"},
                         {32516, "information"}};
  int width = GetSystemMetrics(SM_CXICON), height = GetSystemMetrics(SM_CYICON);
  ULONGLONG deadline = GetTickCount64() + 5000;
  for (;;) {
    RECT r;
    std::vector<uint32_t> seen;
    if (GetWindowRect(control, &r) && r.right - r.left >= width && r.bottom - r.top >= height) {
      r.right = r.left + width;
      r.bottom = r.top + height;
      if (CaptureScreen(r, &seen)) {
        for (const Known& k : known) {
          std::vector<uint32_t> drawn;
          if (!RenderIcon(k.id, width, height, seen[0], &drawn)) continue;
          size_t same = 0;
          for (size_t i = 0; i < seen.size(); ++i) same += Differs(seen[i], drawn[i]) <= 16;
          if (same * 100 >= seen.size() * 97) return k.name;
        }
      }
    }
    if (GetTickCount64() >= deadline || !IsWindow(control)) return "unknown";
    Sleep(15);
  }
}

struct Options {
  std::wstring transcript;
  std::vector<std::string> answers;
  DWORD timeout_ms = 60000;
  DWORD poll_ms = 20;
  DWORD grace_ms = 0;  // leave a box alone this long, for a program that answers its own
  std::wstring shots;
  std::wstring cwd;
  std::wstring output;  // receives the program's standard output and error
  std::wstring command;
};

class Robot {
 public:
  Robot(const Options& options, Transcript& transcript, DWORD main_pid, ULONGLONG start)
      : options_(options),
        transcript_(transcript),
        tree_(main_pid),
        main_pid_(main_pid),
        start_(start) {}

  // Answers every new box of the tree. Returns the number handled.
  int Poll() {
    // Forget boxes that are gone, so that a new box given a recycled handle is not skipped.
    for (auto it = handled_.begin(); it != handled_.end();) {
      it = IsWindow(*it) ? std::next(it) : handled_.erase(it);
    }
    for (auto it = first_seen_.begin(); it != first_seen_.end();) {
      it = IsWindow(it->first) ? std::next(it) : first_seen_.erase(it);
    }
    tree_.Refresh();
    BoxSearch search{&tree_, &handled_, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    // EnumWindows lists the top of the z-order first: the newest box last in the list.
    int answered = 0;
    for (auto it = search.found.rbegin(); it != search.found.rend(); ++it) {
      ULONGLONG first = Elapsed();
      if (options_.grace_ms) {
        // A program that answers its own boxes (a test suite) gets the first go at each.
        first = first_seen_.emplace(*it, first).first->second;
        if (Elapsed() - first < options_.grace_ms) continue;
      }
      Answer(*it, first);
      ++answered;
    }
    return answered;
  }

  const ProcessTree& Tree() const { return tree_; }
  size_t NextAnswer() const { return next_answer_; }
  int Boxes() const { return boxes_; }
  int Unexpected() const { return unexpected_; }
  ULONGLONG Elapsed() const { return GetTickCount64() - start_; }

 private:
  // Reads, records and answers a box first seen at seen_ms.
  void Answer(HWND box, ULONGLONG seen_ms) {
    handled_.insert(box);
    ++boxes_;
    ULONGLONG t = seen_ms;
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    std::string caption = WindowTextA(box);
    std::wstring caption_w = WindowTextW(box);
    HWND text_control = GetDlgItem(box, kStaticTextId);
    std::string text = text_control ? WindowTextA(text_control) : std::string();
    std::wstring text_w = DialogItemTextW(box, kStaticTextId);
    std::vector<Button> buttons;
    EnumChildWindows(box, CollectButton, reinterpret_cast<LPARAM>(&buttons));
    const char* icon = IconName(box);
    LONG style = GetWindowLongW(box, GWL_STYLE);
    LONG ex_style = GetWindowLongW(box, GWL_EXSTYLE);

    std::string shot;
    if (!options_.shots.empty()) {
      // Let the box's thread reach its modal loop and paint before the screen is read.
      DWORD_PTR ignored = 0;
      SendMessageTimeoutW(box, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
      Sleep(80);
      wchar_t name[32];
      _snwprintf(name, 32, L"box-%02d.bmp", boxes_);
      std::wstring path = options_.shots + L"\\" + name;
      if (SaveWindowShot(box, path)) shot = Utf8(path);
    }

    std::string answer, reason;
    int answer_id = 0;
    bool expected = false, pressed = false;
    // A box that closed by itself (its modal loop met a WM_QUIT, say) takes no answer.
    bool vanished = !IsWindow(box) || !IsWindowVisible(box);
    if (!vanished) {
      if (next_answer_ < options_.answers.size()) {
        answer = options_.answers[next_answer_++];
        answer_id = AnswerId(answer);
        for (const Button& b : buttons) {
          if (b.id == answer_id) expected = true;
        }
        if (!expected) reason = "scripted button missing";
      } else {
        reason = "no scripted answer left";
      }
      if (!expected) answer_id = FallbackButton(buttons);
      pressed = Press(box, buttons, answer_id);
      if (!pressed && !IsWindow(box)) {
        vanished = true;
        if (!answer.empty()) --next_answer_;
      } else if (!expected) {
        ++unexpected_;
      }
    }
    if (vanished) {
      answer.clear();
      reason.clear();
      answer_id = 0;
      expected = true;
    }

    std::string line = "{\"event\":\"box\",\"index\":" + std::to_string(boxes_) +
                       ",\"t_ms\":" + std::to_string(t) + ",\"pid\":" + std::to_string(pid) +
                       ",\"main\":" + (pid == main_pid_ ? "true" : "false") +
                       ",\"caption_hex\":\"" + Hex(caption) + "\",\"text_hex\":\"" + Hex(text) +
                       "\",\"caption_w_hex\":\"" + Hex(caption_w) + "\",\"text_w_hex\":\"" +
                       Hex(text_w) + "\",\"caption\":" + Json(Utf8(caption_w)) +
                       ",\"text\":" + Json(Utf8(text_w)) + ",\"buttons\":[";
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (i) line += ",";
      line += "{\"id\":" + std::to_string(buttons[i].id) + ",\"text_hex\":\"" +
              Hex(buttons[i].text) + "\",\"text_w_hex\":\"" + Hex(buttons[i].text_w) + "\"}";
    }
    line += "],\"icon\":\"" + std::string(icon) +
            "\",\"style\":" + std::to_string(static_cast<unsigned long>(style)) +
            ",\"ex_style\":" + std::to_string(static_cast<unsigned long>(ex_style)) +
            ",\"answer\":" + Json(answer) + ",\"answer_id\":" + std::to_string(answer_id) +
            ",\"pressed\":" + (pressed ? "true" : "false") +
            ",\"expected\":" + (expected ? "true" : "false") +
            ",\"vanished\":" + (vanished ? "true" : "false") + ",\"reason\":" + Json(reason) +
            ",\"shot\":" + Json(shot) + "}";
    transcript_.Write(line);
  }

  // The button that ends an unexpected box with the least effect.
  static int FallbackButton(const std::vector<Button>& buttons) {
    for (int preferred : {IDCANCEL, IDNO, IDOK}) {
      for (const Button& b : buttons) {
        if (b.id == preferred) return preferred;
      }
    }
    return buttons.empty() ? 0 : buttons.front().id;
  }

  static bool Press(HWND box, const std::vector<Button>& buttons, int id) {
    if (id == 0) return PostMessageW(box, WM_CLOSE, 0, 0) != FALSE;
    HWND button = nullptr;
    for (const Button& b : buttons) {
      if (b.id == id) button = b.window;
    }
    return PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != FALSE;
  }

  const Options& options_;
  Transcript& transcript_;
  ProcessTree tree_;
  DWORD main_pid_;
  ULONGLONG start_;
  std::set<HWND> handled_;
  std::map<HWND, ULONGLONG> first_seen_;  // with a grace time: when each box was first seen
  size_t next_answer_ = 0;
  int boxes_ = 0;
  int unexpected_ = 0;
};

void Usage() {
  std::fprintf(
      stderr,
      "usage: robot.exe --transcript FILE [--answers a,b,...] [--timeout-ms N]\n"
      "                 [--poll-ms N] [--shots DIR] [--cwd DIR] [--output FILE] [--grace-ms N]\n"
      "                 -- program [arg...]\n"
      "answers: ok cancel abort retry ignore yes no close help tryagain continue\n");
}

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

// Returns false on a malformed command line, after saying why.
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

int Run(const Options& options) {
  Transcript transcript;
  if (!transcript.Open(options.transcript)) {
    std::fprintf(stderr, "robot: cannot create the transcript (%lu)\n", GetLastError());
    return 2;
  }
  if (!options.shots.empty()) CreateDirectoryW(options.shots.c_str(), nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  Handle output;
  if (!options.output.empty()) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    output.Reset(CreateFileW(options.output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.Valid()) {
      std::fprintf(stderr, "robot: cannot create the output file (%lu)\n", GetLastError());
      return 2;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.Get();
    startup.hStdError = output.Get();
  }
  PROCESS_INFORMATION info = {};
  std::vector<wchar_t> command(options.command.begin(), options.command.end());
  command.push_back(L'\0');
  ULONGLONG start = GetTickCount64();
  // Only the output file is inheritable; without one nothing is inherited.
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, output.Valid(), 0, nullptr,
                      options.cwd.empty() ? nullptr : options.cwd.c_str(), &startup, &info)) {
    DWORD error = GetLastError();
    transcript.Write("{\"event\":\"start_failed\",\"error\":" + std::to_string(error) +
                     ",\"command_hex\":\"" + Hex(Utf8(options.command)) + "\"}");
    std::fprintf(stderr, "robot: cannot start the program (%lu)\n", error);
    return 3;
  }
  Handle process(info.hProcess);
  Handle thread(info.hThread);
  transcript.Write("{\"event\":\"start\",\"pid\":" + std::to_string(info.dwProcessId) +
                   ",\"acp\":" + std::to_string(GetACP()) +
                   ",\"lcid\":" + std::to_string(GetUserDefaultLCID()) + ",\"command_hex\":\"" +
                   Hex(Utf8(options.command)) + "\"}");

  Robot robot(options, transcript, info.dwProcessId, start);
  bool timed_out = false;
  for (;;) {
    robot.Poll();
    DWORD wait = WaitForSingleObject(process.Get(), options.poll_ms);
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
      WaitForSingleObject(process.Get(), 5000);
      break;
    }
  }

  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.Get(), &exit_code)) exit_code = 0xFFFFFFFF;
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
      int code = RunCommandLine(static_cast<int>(pointers.size()), pointers.data());
      std::fflush(stderr);
      return "exit=" + std::to_string(code) + "\n";
    });
  }
  int code = RunCommandLine(argc, argv);
  LocalFree(argv);
  return code;
}
