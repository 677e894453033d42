#include <windows.h>

#include <string>

#include "payload/extract_payload.h"
#include "payload/guarded_write.h"
#include "payload/safe_write_win.h"
#include "installfolder/install_lock_win.h"
#include "startup/messages.h"
#include "payload/write_outcome.h"

namespace kestrane {
namespace {

// A resource of the running executable, locked for reading and released on every path. Its
// bytes are read straight from the mapped image: the payload is never copied in memory.
class PayloadResource {
 public:
  PayloadResource(const std::string& name, const std::string& type) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC info = module ? FindResourceA(module, name.c_str(), type.c_str()) : nullptr;
    if (info == nullptr) return;
    loaded_ = LoadResource(module, info);
    if (loaded_ == nullptr) return;
    const DWORD size = SizeofResource(module, info);
    const void* bytes = LockResource(loaded_);
    if (bytes == nullptr || size == 0) return;  // an empty payload is never written
    bytes_ = bytes;
    size_ = size;
  }
  ~PayloadResource() {
    if (loaded_ != nullptr) FreeResource(loaded_);
  }
  PayloadResource(const PayloadResource&) = delete;
  PayloadResource& operator=(const PayloadResource&) = delete;

  bool found() const { return bytes_ != nullptr; }
  const void* bytes() const { return bytes_; }
  size_t size() const { return size_; }

 private:
  HGLOBAL loaded_ = nullptr;
  const void* bytes_ = nullptr;
  size_t size_ = 0;
};

// Returns how the write ended; kFailed also when the resource is missing or empty, in which
// case nothing is written.
WriteOutcome WritePayload(const std::string& resource_name, const std::string& resource_type,
                          const HeldFolder& folder, const std::u16string& target_name,
                          bool guarded) {
  PayloadResource payload(resource_name, resource_type);
  if (!payload.found()) return WriteOutcome::kFailed;
  if (guarded) {
    return WriteGuarded(payload.bytes(), payload.size(), resource_type, folder, target_name);
  }
  return WriteFileReplacing(payload.bytes(), payload.size(), folder.get(), target_name)
             ? WriteOutcome::kWritten
             : WriteOutcome::kFailed;
}

}  // namespace

bool ExtractPayload(const std::string& resource_name, const std::string& resource_type,
                    const HeldFolder& folder, const std::u16string& target_name, bool guarded) {
  WriteOutcome outcome = WriteOutcome::kFailed;
  // A folder that could not be held is never written into.
  if (folder.held()) {
    // Another run writing the same file meanwhile would collide at its temporary name. The
    // lock is let go before the report, so that no run waits on a box left open.
    InstallLock lock;
    if (lock.state() != InstallLock::State::kTimedOut) {
      try {
        outcome = WritePayload(resource_name, resource_type, folder, target_name, guarded);
      } catch (...) {
        // The one place where every failure of the write turns into the user's message.
        outcome = WriteOutcome::kFailed;
      }
    }
  }
  if (outcome == WriteOutcome::kFailed) {
    const MessageText path = MessageText::Wide(folder.path() + target_name);
    ReportError("Can't install file " + path, "Не удается установить файл " + path);
  }
  return outcome == WriteOutcome::kWritten;
}

}  // namespace kestrane
