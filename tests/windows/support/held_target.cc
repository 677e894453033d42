#include "held_target.h"

#include <windows.h>

#include "payload/extract_payload.h"
#include "payload/guarded_write.h"
#include "installfolder/folder_handle_win.h"

namespace kestrane {

std::u16string WideFromAnsi(const std::string& ansi) {
  if (ansi.empty()) return std::u16string();
  const int length = static_cast<int>(ansi.size());
  const int wide_length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  if (wide_length <= 0) return std::u16string();
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, &wide[0], wide_length);
  return std::u16string(wide.begin(), wide.end());
}

void SplitTarget(const std::u16string& target, std::u16string* folder, std::u16string* name) {
  const size_t slash = target.find_last_of(u'\\');
  *folder = slash == std::u16string::npos ? std::u16string() : target.substr(0, slash + 1);
  *name = slash == std::u16string::npos ? target : target.substr(slash + 1);
}

bool ExtractPayloadTo(const std::string& resource_name, const std::string& resource_type,
                      const std::u16string& target, bool guarded) {
  std::u16string folder_path, name;
  SplitTarget(target, &folder_path, &name);
  const HeldFolder folder(folder_path);
  return ExtractPayload(resource_name, resource_type, folder, name, guarded);
}

WriteOutcome WriteGuardedTo(const void* bytes, size_t size, const std::string& resource_type,
                            const std::u16string& target) {
  std::u16string folder_path, name;
  SplitTarget(target, &folder_path, &name);
  const HeldFolder folder(folder_path);
  if (!folder.held()) return WriteOutcome::kFailed;
  return WriteGuarded(bytes, size, resource_type, folder, name);
}

}  // namespace kestrane
