#include "screenshot.h"

#include "startup/scoped_handle_win.h"

namespace robot {

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
      kestrane::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      DWORD n1 = 0, n2 = 0, n3 = 0;
      ok = file.valid() && WriteFile(file.get(), &header, sizeof header, &n1, nullptr) &&
           WriteFile(file.get(), &info.bmiHeader, sizeof(BITMAPINFOHEADER), &n2, nullptr) &&
           WriteFile(file.get(), bits, image_size, &n3, nullptr) && n3 == image_size;
    }
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace robot
