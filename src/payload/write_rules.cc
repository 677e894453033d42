#include "payload/write_rules.h"

#include "startup/ascii_case.h"

namespace kestrane {
namespace {

bool SameIgnoringAsciiCase(const std::u16string& a, size_t from, const std::u16string& b) {
  if (a.size() - from != b.size()) return false;
  for (size_t i = 0; i < b.size(); ++i) {
    if (LowerAsciiLetter(a[from + i]) != LowerAsciiLetter(b[i])) return false;
  }
  return true;
}

}  // namespace

bool IsLeftoverOfOurs(const TemporaryNameEntry& entry) {
  const uint32_t not_plain = kAttributeDirectory | kAttributeDevice | kAttributeReparsePoint;
  return (entry.attributes & not_plain) == 0 && entry.link_count == 1 && entry.in_place;
}

bool IsEntryOfFolder(const std::u16string& entry, const std::u16string& folder,
                     const std::u16string& name) {
  if (folder.empty() || name.empty()) return false;
  const bool has_backslash = folder.back() == u'\\';
  const size_t name_at = folder.size() + (has_backslash ? 0 : 1);
  if (entry.size() <= name_at) return false;
  if (!SameIgnoringAsciiCase(entry.substr(0, folder.size()), 0, folder)) return false;
  if (!has_backslash && entry[folder.size()] != u'\\') return false;
  return SameIgnoringAsciiCase(entry, name_at, name);
}

bool MeansHeldByAnotherProcess(uint32_t replace_error, bool delete_refused_for_sharing) {
  switch (replace_error) {
    case kErrorSharingViolation:
    case kErrorLockViolation:
      return true;
    case kErrorAccessDenied:
      return delete_refused_for_sharing;
    default:
      return false;
  }
}

}  // namespace kestrane
