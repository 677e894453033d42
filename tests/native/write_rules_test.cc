#include "payload/write_rules.h"

#include <gtest/gtest.h>

namespace kestrane {
namespace {

constexpr uint32_t kReadOnly = 0x1, kHidden = 0x2, kSystem = 0x4, kArchive = 0x20;

TEST(TemporaryName, OnlyAPlainFileOfOursInItsPlaceIsALeftover) {
  const struct {
    const char* name;
    TemporaryNameEntry entry;
    bool leftover;
  } cases[] = {
      {"plain file", {kArchive, 1, true}, true},
      {"read-only hidden system file", {kReadOnly | kHidden | kSystem, 1, true}, true},
      {"no attributes at all", {0, 1, true}, true},
      {"folder", {kAttributeDirectory, 1, true}, false},
      {"symbolic link or junction", {kAttributeReparsePoint | kArchive, 1, true}, false},
      {"folder link", {kAttributeReparsePoint | kAttributeDirectory, 1, true}, false},
      {"device", {kAttributeDevice, 1, true}, false},
      {"file with a second name", {kArchive, 2, true}, false},
      {"no names reported", {kArchive, 0, true}, false},
      // Wine: a Unix link shows as the plain file it leads to, elsewhere.
      {"file reached through a link", {kArchive, 1, false}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsLeftoverOfOurs(c.entry), c.leftover) << c.name;
}

TEST(TemporaryName, TheEntryIsTheNameInItsFolder) {
  const std::u16string folder = u"\\\\?\\C:\\Games\\Kestrane";
  const struct {
    std::u16string entry;
    std::u16string folder;
    bool in_place;
  } cases[] = {
      {u"\\\\?\\C:\\Games\\Kestrane\\~kvx.cok", folder, true},
      {u"\\\\?\\C:\\Games\\Kestrane\\~KVX.COK", folder, true},
      {u"\\\\?\\c:\\games\\kestrane\\~kvx.cok", folder, true},
      {u"\\\\?\\C:\\~kvx.cok", u"\\\\?\\C:\\", true},
      {u"\\\\?\\Z:\\tmp\\victim.txt", folder, false},
      {u"\\\\?\\C:\\Games\\Kestrane\\~kvx.cok.bak", folder, false},
      {u"\\\\?\\C:\\Games\\Kestrane\\sub\\~kvx.cok", folder, false},
      {u"\\\\?\\C:\\Games\\KestraneX~kvx.cok", folder, false},
      {u"\\\\?\\C:\\Games\\Kestrane2\\~kvx.cok", folder, false},
      {u"\\\\?\\C:\\Games\\Kestrane\\", folder, false},
      {u"", folder, false},
      {u"\\\\?\\C:\\Games\\Kestrane\\~kvx.cok", u"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsEntryOfFolder(c.entry, c.folder, u"~kvx.cok"), c.in_place)
        << std::string(c.entry.begin(), c.entry.end());
  }
  // Letters outside A to Z must match exactly.
  EXPECT_TRUE(IsEntryOfFolder(u"C:\\\u0418\\~\u0430.cok", u"C:\\\u0418", u"~\u0430.cok"));
  EXPECT_FALSE(IsEntryOfFolder(u"C:\\\u0418\\~\u0410.cok", u"C:\\\u0418", u"~\u0430.cok"));
}

TEST(ReplaceRetry, OnlyATargetHeldByAnotherProcessIsWaitedFor) {
  const struct {
    uint32_t error;
    bool delete_refused_for_sharing;
    bool held;
  } cases[] = {
      {kErrorSharingViolation, false, true},  // Windows: open without delete sharing
      {kErrorLockViolation, false, true},
      {kErrorAccessDenied, true, true},    // Wine: any open target
      {kErrorAccessDenied, false, false},  // protected, read-only, a running image
      {2, true, false},                    // the source vanished
      {17, false, false},                  // another volume
      {112, false, false},                 // disk full
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MeansHeldByAnotherProcess(c.error, c.delete_refused_for_sharing), c.held)
        << c.error << " " << c.delete_refused_for_sharing;
  }
}

}  // namespace
}  // namespace kestrane
