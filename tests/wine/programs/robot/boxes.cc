#include "boxes.h"

#include <iterator>
#include <string>
#include <vector>

#include "icons.h"
#include "screenshot.h"
#include "text.h"

namespace robot {
namespace {

constexpr DWORD kStaticTextId = 0xFFFF;

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

// The button that ends an unexpected box with the least effect.
int FallbackButton(const std::vector<Button>& buttons) {
  for (int preferred : {IDCANCEL, IDNO, IDOK}) {
    for (const Button& b : buttons) {
      if (b.id == preferred) return preferred;
    }
  }
  return buttons.empty() ? 0 : buttons.front().id;
}

bool Press(HWND box, const std::vector<Button>& buttons, int id) {
  if (id == 0) return PostMessageW(box, WM_CLOSE, 0, 0) != FALSE;
  HWND button = nullptr;
  for (const Button& b : buttons) {
    if (b.id == id) button = b.window;
  }
  return PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button)) != FALSE;
}

}  // namespace

int Robot::Poll() {
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

void Robot::Answer(HWND box, ULONGLONG seen_ms) {
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
                     ",\"main\":" + (pid == main_pid_ ? "true" : "false") + ",\"caption_hex\":\"" +
                     Hex(caption) + "\",\"text_hex\":\"" + Hex(text) + "\",\"caption_w_hex\":\"" +
                     Hex(caption_w) + "\",\"text_w_hex\":\"" + Hex(text_w) +
                     "\",\"caption\":" + Json(Utf8(caption_w)) + ",\"text\":" + Json(Utf8(text_w)) +
                     ",\"buttons\":[";
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (i) line += ",";
    line += "{\"id\":" + std::to_string(buttons[i].id) + ",\"text_hex\":\"" + Hex(buttons[i].text) +
            "\",\"text_w_hex\":\"" + Hex(buttons[i].text_w) + "\"}";
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

}  // namespace robot
