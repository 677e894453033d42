// The installer's entry point: one update package, its constants given by the build.
#include <windows.h>

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>

#include "startup/errors.h"
#include "startup/startup_step.h"
#include "startup/system_library_win.h"
#include "update/package_info.h"
#include "update/run_update.h"

#if !defined(KESTRANE_RESOURCE_NAME) || !defined(KESTRANE_RESOURCE_TYPE) || \
    !defined(KESTRANE_PACKAGE_VERSION) || !defined(KESTRANE_GUARDED)
#error "The package build defines KESTRANE_RESOURCE_NAME, _TYPE, _PACKAGE_VERSION and _GUARDED."
#endif

namespace {

constexpr int kTopLevelExitCode = 1;

// Names a standard exception by its type ("std::length_error"), as the top-level box names
// the installer's own errors by kind.
std::string ExceptionKind(const std::exception& error) {
  const char* mangled = typeid(error).name();
  int status = 0;
  char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string kind = (status == 0 && readable != nullptr) ? readable : "Exception";
  std::free(readable);
  return kind;
}

int RunPackage() {
  try {
    kestrane::RunStartupStep();
    return static_cast<int>(kestrane::RunUpdate(
        kestrane::MakePackageInfo(KESTRANE_RESOURCE_NAME, KESTRANE_RESOURCE_TYPE,
                                  KESTRANE_PACKAGE_VERSION, KESTRANE_GUARDED != 0)));
  } catch (const kestrane::InstallerError& error) {
    kestrane::ShowTopLevelError(error.Kind(), error.Address(), error.what());
  } catch (const std::bad_alloc&) {
    kestrane::ShowTopLevelError("OutOfMemory", nullptr, "Out of memory");
  } catch (const std::exception& error) {
    kestrane::ShowTopLevelError(ExceptionKind(error).c_str(), nullptr, error.what());
  } catch (...) {
    kestrane::ShowTopLevelError("UnknownException", nullptr, "An unknown error stopped the run");
  }
  return kTopLevelExitCode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a DLL: never from the folder the installer was started in.
  kestrane::LockDownDllSearch();
  try {
    return RunPackage();
  } catch (...) {
    // The error box itself failed (no memory left even for its text); the code still tells.
    return kTopLevelExitCode;
  }
}
