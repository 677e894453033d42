// The probe for a running host and the request to quit, against objects and windows this test
// makes itself in its own process; the start through the desktop shell, with the stand-in
// host.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/test_files.h"
#include "update/desktop_shell_win.h"
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

std::string ThisFolder() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  EXPECT_TRUE(length > 0 && length < MAX_PATH);
  std::string text(path, length);
  return text.substr(0, text.find_last_of('\\') + 1);
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Under Wine the desktop shell answers (explorer.exe runs the desktop), and the program it
// starts is its child, in the working folder it was given, not this process's current one.
TEST(OpenThroughDesktopShell, TheShellStartsTheProgramInTheGivenFolder) {
  const std::string folder = MakeTestFolder("desktop_shell");
  ASSERT_FALSE(folder.empty());
  const std::string host = folder + "Kestrane.exe";
  ASSERT_TRUE(CopyFileA((ThisFolder() + "Kestrane.exe").c_str(), host.c_str(), FALSE));
  ASSERT_TRUE(WriteBytes(folder + "standin.cfg", "memfile=0\r\nwindow=0\r\nlifetime_ms=1000\r\n"));
  ASSERT_TRUE(OpenThroughDesktopShell(Wide(host), Wide(folder)));
  std::string log;
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (ReadBytes(folder + "standin.log", &log) && log.find("\texit\t") != std::string::npos) {
      break;
    }
    Sleep(50);
  }
  const std::string bare = folder.substr(0, folder.size() - 1);
  EXPECT_NE(log.find(" cwd=" + bare + " parent=explorer.exe "), std::string::npos) << log;
  EXPECT_NE(log.find("\texit\t"), std::string::npos) << log;
  RemoveTree(folder);
}

}  // namespace
}  // namespace kestrane
