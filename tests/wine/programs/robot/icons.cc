#include "icons.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace robot {
namespace {

constexpr int kIconControlId = 0x0440;  // the icon static of the system message box

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

}  // namespace

// The icon handle belongs to the box's process, so its pixels on the screen are compared with
// the system icons drawn here. Waits for the box to paint: a loaded or emulated machine paints
// late.
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

}  // namespace robot
