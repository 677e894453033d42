// Keeps one hidden top-level window alive for a whole test run. Wine's desktop process ends
// when the last window closes, and the next program to start then waits about 10 s for a new
// one; this window keeps it up. Ends on WM_CLOSE or WM_QUIT, or when its parent test run
// kills it.
#include <windows.h>

namespace {

constexpr char kClassName[] = "KestraneKeepAlive";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  if (!RegisterClassA(&wc)) return 1;
  HWND window = CreateWindowExA(0, kClassName, "keepalive", WS_OVERLAPPED, 0, 0, 1, 1, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return 1;
  MSG msg;
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchMessageA(&msg);
  return got == 0 ? 0 : 1;
}
