// The probe for a running host and the request to quit, against objects and windows this test
// makes itself in its own process.
#include <windows.h>

#include <gtest/gtest.h>

#include "update/host_control.h"

namespace kestrane {
namespace {

// A shared-memory object of the host's name, as a running host owns it.
class HostObject {
 public:
  explicit HostObject(SECURITY_ATTRIBUTES* security = nullptr)
      : handle_(CreateFileMappingA(INVALID_HANDLE_VALUE, security, PAGE_READWRITE, 0, 64,
                                   kHostMemFileName)) {}
  ~HostObject() { Close(); }
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;
  bool Valid() const { return handle_ != nullptr; }
  void Close() {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_;
};

// True when an object of the host's name exists now (opened, never created).
bool HostObjectExists() {
  HANDLE existing = OpenFileMappingA(FILE_MAP_READ, FALSE, kHostMemFileName);
  if (existing == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  CloseHandle(existing);
  return true;
}

// A top-level window of the host's class on this thread.
class HostWindow {
 public:
  HostWindow() {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kHostWindowClass;
    registered_ = RegisterClassA(&window_class) != 0;
    window_ = CreateWindowExA(0, kHostWindowClass, "Kestrane", WS_OVERLAPPED, 0, 0, 100, 100,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  }
  ~HostWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
    if (registered_) UnregisterClassA(kHostWindowClass, GetModuleHandleA(nullptr));
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  HWND Get() const { return window_; }

 private:
  bool registered_ = false;
  HWND window_ = nullptr;
};

// Takes every WM_QUIT waiting in this thread's queue; returns how many there were and the
// window of the last one.
int TakeQuitMessages(HWND* window) {
  int count = 0;
  MSG message;
  for (int i = 0; i < 100 && PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE); ++i) {
    ++count;
    *window = message.hwnd;
  }
  return count;
}

TEST(IsHostRunning, IsFalseWithoutAHostAndLeavesNoObjectBehind) {
  ASSERT_FALSE(HostObjectExists());
  EXPECT_FALSE(IsHostRunning());
  EXPECT_FALSE(IsHostRunning());  // the first probe's object did not outlive it
  EXPECT_FALSE(HostObjectExists());
}

TEST(IsHostRunning, IsTrueWhileTheHostsObjectExistsAndKeepsNoHandleToIt) {
  HostObject host;
  ASSERT_TRUE(host.Valid());
  EXPECT_TRUE(IsHostRunning());
  EXPECT_TRUE(IsHostRunning());
  // Once the host lets go, the object is gone: no probe kept it alive.
  host.Close();
  EXPECT_FALSE(HostObjectExists());
  EXPECT_FALSE(IsHostRunning());
}

TEST(IsHostRunning, IsTrueForAnObjectThatMayNotBeOpened) {
  // A host guarding its object with an access list that admits nobody.
  SECURITY_DESCRIPTOR descriptor;
  ACL empty;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE));
  SECURITY_ATTRIBUTES security = {sizeof security, &descriptor, FALSE};
  HostObject host(&security);
  ASSERT_TRUE(host.Valid());
  EXPECT_TRUE(IsHostRunning());
}

TEST(AskHostToQuit, PostsOneQuitToTheHostsWindow) {
  HWND ignored = nullptr;
  TakeQuitMessages(&ignored);
  HostWindow host;
  ASSERT_NE(host.Get(), nullptr);
  AskHostToQuit();
  HWND target = nullptr;
  EXPECT_EQ(TakeQuitMessages(&target), 1);
  EXPECT_EQ(target, host.Get());
}

TEST(AskHostToQuit, PostsNothingWhenTheHostHasNoWindow) {
  // Posting to no window would put WM_QUIT into this thread's own queue, where it would close
  // the next message box.
  HWND ignored = nullptr;
  TakeQuitMessages(&ignored);
  ASSERT_EQ(FindWindowA(kHostWindowClass, nullptr), nullptr);
  AskHostToQuit();
  EXPECT_EQ(TakeQuitMessages(&ignored), 0);
}

}  // namespace
}  // namespace kestrane
