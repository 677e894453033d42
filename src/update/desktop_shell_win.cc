#include <windows.h>
#include <exdisp.h>
#include <objbase.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "update/desktop_shell_win.h"

namespace kestrane {
namespace {

// Owns one reference to a COM interface and releases it on every path.
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For a call that hands out a new reference; any reference held now is released first.
  Interface** Put() {
    Reset();
    return &pointer_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

 private:
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }
  Interface* pointer_ = nullptr;
};

// Owns a BSTR.
class ScopedBstr {
 public:
  explicit ScopedBstr(const std::wstring& text)
      : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~ScopedBstr() { SysFreeString(text_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR get() const { return text_; }

 private:
  BSTR text_;
};

// COM on this thread for as long as the object lives. A thread that has COM already in
// another mode can still make the calls; only a successful initialisation is undone.
class ComApartment {
 public:
  ComApartment()
      : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

// A VARIANT that only borrows what it holds, so it needs no VariantClear.
VARIANT BorrowedText(const ScopedBstr& text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text.get();
  return value;
}

VARIANT Number(LONG number) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = number;
  return value;
}

// Returns the Shell.Application object of the desktop shell's own process, or leaves shell
// empty when any step finds no answer. Every interface on the way is released on return.
void FindDesktopShell(ComRef<IShellDispatch2>* shell) {
  // A local server only: the object must be the running shell's, never a DLL loaded here.
  ComRef<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                              windows.PutVoid()))) {
    return;
  }
  VARIANT desktop_location = Number(CSIDL_DESKTOP);
  VARIANT no_root;
  VariantInit(&no_root);
  long desktop_window = 0;
  ComRef<IDispatch> desktop;
  // S_FALSE, with no object, when the shell shows no desktop.
  if (windows->FindWindowSW(&desktop_location, &no_root, SWC_DESKTOP, &desktop_window,
                            SWFO_NEEDDISPATCH, desktop.Put()) != S_OK ||
      !desktop) {
    return;
  }
  ComRef<IServiceProvider> services;
  if (FAILED(desktop->QueryInterface(IID_IServiceProvider, services.PutVoid())) || !services) {
    return;
  }
  ComRef<IShellBrowser> browser;
  if (FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.PutVoid())) ||
      !browser) {
    return;
  }
  ComRef<IShellView> view;
  if (FAILED(browser->QueryActiveShellView(view.Put())) || !view) return;
  ComRef<IDispatch> background;
  if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.PutVoid())) ||
      !background) {
    return;
  }
  ComRef<IShellFolderViewDual> folder_view;
  if (FAILED(background->QueryInterface(IID_IShellFolderViewDual, folder_view.PutVoid())) ||
      !folder_view) {
    return;
  }
  ComRef<IDispatch> application;
  if (FAILED(folder_view->get_Application(application.Put())) || !application) return;
  if (FAILED(application->QueryInterface(IID_IShellDispatch2, shell->PutVoid()))) {
    shell->Put();  // the caller must see no shell, whatever a failed call handed out
  }
}

bool OpenThroughShell(const std::wstring& file, const std::wstring& folder) {
  ComRef<IShellDispatch2> shell;
  FindDesktopShell(&shell);
  if (!shell) return false;
  const ScopedBstr file_text(file);
  const ScopedBstr no_parameters(L"");
  const ScopedBstr folder_text(folder);
  const ScopedBstr verb(L"open");
  if (file_text.get() == nullptr || no_parameters.get() == nullptr ||
      folder_text.get() == nullptr || verb.get() == nullptr) {
    return false;
  }
  return SUCCEEDED(shell->ShellExecute(file_text.get(), BorrowedText(no_parameters),
                                       BorrowedText(folder_text), BorrowedText(verb),
                                       Number(SW_SHOWNORMAL)));
}

}  // namespace

bool OpenThroughDesktopShell(const std::wstring& file, const std::wstring& folder) {
  // Every interface is released inside OpenThroughShell, before COM is uninitialised here.
  const ComApartment apartment;
  if (!apartment.usable()) return false;
  return OpenThroughShell(file, folder);
}

}  // namespace kestrane
