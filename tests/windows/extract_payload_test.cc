#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/extract_payload.h"
#include "startup/startup_settings.h"
#include "support/box_answerer.h"
#include "support/test_files.h"
#include "startup/messages.h"
#include "support/held_target.h"

namespace kestrane {
namespace {

const std::string kOldBytes =
    "old installed bytes, longer than the new payload so that a "
    "partly written file would show: " +
    std::string(400, 'o');

// The bytes of a resource of this executable, read independently of the code under test.
std::string ResourceBytes(const char* name, const char* type) {
  HRSRC info = FindResourceA(nullptr, name, type);
  if (info == nullptr) return std::string();
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, info)));
  return bytes == nullptr ? std::string() : std::string(bytes, SizeofResource(nullptr, info));
}

struct Outcome {
  bool written = false;
  std::vector<AnsweredBox> boxes;
};

class PayloadExtraction : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTestFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_FALSE(folder_.empty());
    target_ = folder_ + "kvx.cok";
    payload_ = ResourceBytes("KVX", "COK");
    ASSERT_GT(payload_.size(), 5u);
    ASSERT_EQ(payload_.compare(0, 4, std::string("kvx\0", 4)), 0);
    SetErrorTitles({"Проверка", "Payload test"});
    g_startupSettings.RussianUI = false;
  }
  void TearDown() override { RemoveTree(folder_); }

  Outcome Extract(const std::string& name, const std::string& target, bool guarded = false) {
    Outcome outcome;
    BoxAnswerer answerer;
    outcome.written = ExtractPayloadTo(name, "cok", target, guarded);
    outcome.boxes = answerer.Boxes();
    return outcome;
  }

  // Checks that exactly the "Can't install file" report for target was shown. Without an X
  // display no box can be shown or read: the test is then reported as skipped (its other
  // checks still run, and a failure among them still fails it).
  void ExpectInstallReport(const Outcome& outcome, const std::string& target) {
    if (!BoxesCanBeRead()) GTEST_SKIP() << "no X display: the report's text was not read";
    ASSERT_EQ(outcome.boxes.size(), 1u);
    if (g_startupSettings.RussianUI) {
      EXPECT_EQ(outcome.boxes[0].text, L"Не удается установить файл " + FromAnsi(target));
      EXPECT_EQ(outcome.boxes[0].caption, L"Проверка");
    } else {
      EXPECT_EQ(outcome.boxes[0].text, L"Can't install file " + FromAnsi(target));
      EXPECT_EQ(outcome.boxes[0].caption, L"Payload test");
    }
  }

  // Checks that no box was shown; skipped as above without an X display.
  void ExpectNoBox(const Outcome& outcome, const std::string& what) {
    if (!BoxesCanBeRead()) GTEST_SKIP() << "no X display: the absence of boxes was not seen";
    EXPECT_TRUE(outcome.boxes.empty()) << what << ": no question, no report";
  }

  std::string Contents(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadBytes(path, &bytes)) << path;
    return bytes;
  }

  std::string folder_;
  std::string target_;
  std::string payload_;
};

TEST_F(PayloadExtraction, PlainModeWritesOrOverwritesWithoutAQuestion) {
  const struct {
    const char* name;
    bool target_exists;
    std::string old_bytes;
  } cases[] = {
      {"new file", false, ""},
      {"existing older file", true, "kvx\0\0\1\0"},
      {"existing newer and larger file is overwritten anyway", true,
       std::string("kvx\0\0\xFF\x7F", 7) + kOldBytes},
      {"existing empty file", true, ""},
  };
  for (const auto& c : cases) {
    RemoveTree(target_);
    if (c.target_exists) {
      ASSERT_TRUE(WriteBytes(target_, c.old_bytes));
    }
    const Outcome outcome = Extract("kvx", target_);
    EXPECT_TRUE(outcome.written) << c.name;
    EXPECT_EQ(Contents(target_), payload_) << c.name;
    EXPECT_FALSE(PathExists(folder_ + "~kvx.cok")) << c.name << ": no temporary file left";
    ExpectNoBox(outcome, c.name);
  }
}

TEST_F(PayloadExtraction, ResourceNamesMatchWithoutRegardToCase) {
  for (const char* name : {"kvx", "KVX", "Kvx"}) {
    RemoveTree(target_);
    BoxAnswerer answerer;
    EXPECT_TRUE(ExtractPayloadTo(name, "CoK", target_, false)) << name;
    EXPECT_EQ(Contents(target_), payload_) << name;
  }
}

// What a killed run, another run or someone else left at the temporary name, in both modes
// (they share the writer). Only a plain file is removed; nothing is written through a link.
TEST_F(PayloadExtraction, OnlyAPlainLeftoverAtTheTemporaryNameIsReplaced) {
  const std::string temporary = folder_ + "~kvx.cok";
  const std::string outside = folder_ + "outside\\victim.bin";
  const std::string old_target("kvx\0\0\1\0", 7);  // older: the guarded mode asks nothing
  enum Kind { kPlain, kReadOnlyHidden, kSymbolicLink, kHardLink, kFolder, kHeldOpen };
  const struct {
    const char* name;
    Kind kind;
    bool written;
  } cases[] = {
      {"plain leftover", kPlain, true},
      {"read-only hidden leftover", kReadOnlyHidden, true},
      {"link to a file outside", kSymbolicLink, false},
      {"second name of a file outside", kHardLink, false},
      {"folder", kFolder, false},
      {"file another run holds open", kHeldOpen, false},
  };
  for (bool guarded : {false, true}) {
    for (const auto& c : cases) {
      const std::string name = std::string(c.name) + (guarded ? ", guarded" : "");
      RemoveTree(temporary);
      RemoveTree(folder_ + "outside");
      ASSERT_TRUE(CreateDirectoryA((folder_ + "outside").c_str(), nullptr)) << name;
      ASSERT_TRUE(WriteBytes(target_, old_target));
      ASSERT_TRUE(WriteBytes(outside, kOldBytes));
      HANDLE held = INVALID_HANDLE_VALUE;
      switch (c.kind) {
        case kPlain:
        case kHeldOpen:
          ASSERT_TRUE(WriteBytes(temporary, kOldBytes));
          if (c.kind == kHeldOpen) {
            held = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
          }
          break;
        case kReadOnlyHidden:
          ASSERT_TRUE(WriteBytes(temporary, kOldBytes));
          ASSERT_TRUE(SetFileAttributesA(temporary.c_str(),
                                         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
          break;
        case kSymbolicLink:
          if (!MakeSymbolicLink(temporary, UnixPath(outside))) GTEST_SKIP() << "no Unix links here";
          break;
        case kHardLink:
          ASSERT_TRUE(MakeHardLink(temporary, outside)) << GetLastError();
          break;
        case kFolder:
          ASSERT_TRUE(CreateDirectoryA(temporary.c_str(), nullptr));
          break;
      }
      const Outcome outcome = Extract("kvx", target_, guarded);
      if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
      EXPECT_EQ(outcome.written, c.written) << name;
      EXPECT_EQ(Contents(outside), kOldBytes) << name << ": the outside file is untouched";
      if (c.written) {
        EXPECT_EQ(Contents(target_), payload_) << name;
        EXPECT_FALSE(PathExists(temporary)) << name;
        const DWORD attributes = GetFileAttributesA(target_.c_str());
        EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u) << name;
      } else {
        ExpectInstallReport(outcome, target_);
        EXPECT_EQ(Contents(target_), old_target) << name;
        EXPECT_NE(GetFileAttributesA(temporary.c_str()), INVALID_FILE_ATTRIBUTES)
            << name << ": what was there is left alone";
      }
      // Through Unix: Wine's DeleteFile would delete the file a link leads to.
      if (c.kind == kSymbolicLink) {
        EXPECT_TRUE(RemoveSymbolicLink(temporary)) << name;
      } else {
        RemoveTree(temporary);
      }
    }
  }
}

TEST_F(PayloadExtraction, TargetHeldOpenKeepsItsOldBytesAndIsReported) {
  ASSERT_TRUE(WriteBytes(target_, kOldBytes));
  // The host application keeps its data file open for reading and lets nobody write it.
  HANDLE held = CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  for (bool russian : {false, true}) {
    g_startupSettings.RussianUI = russian;
    const Outcome outcome = Extract("kvx", target_);
    EXPECT_FALSE(outcome.written);
    ExpectInstallReport(outcome, target_);
    EXPECT_EQ(Contents(target_), kOldBytes);
    EXPECT_FALSE(PathExists(folder_ + "~kvx.cok")) << "the temporary file is removed";
  }
  CloseHandle(held);
  EXPECT_EQ(Contents(target_), kOldBytes) << "old bytes also after the host lets go";
}

DWORD WINAPI CloseAfterASecond(void* handle) {
  Sleep(1000);
  CloseHandle(static_cast<HANDLE>(handle));
  return 0;
}

// A host that is quitting lets go of its file a moment after the write began.
TEST_F(PayloadExtraction, TargetReleasedWithinTheWaitIsReplaced) {
  ASSERT_TRUE(WriteBytes(target_, kOldBytes));
  HANDLE held = CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  HANDLE closer = CreateThread(nullptr, 0, CloseAfterASecond, held, 0, nullptr);
  ASSERT_NE(closer, nullptr);
  const Outcome outcome = Extract("kvx", target_);
  EXPECT_EQ(WaitForSingleObject(closer, 15000), WAIT_OBJECT_0);
  CloseHandle(closer);
  EXPECT_TRUE(outcome.written);
  EXPECT_TRUE(outcome.boxes.empty());
  EXPECT_EQ(Contents(target_), payload_);
  EXPECT_FALSE(PathExists(folder_ + "~kvx.cok"));
}

TEST_F(PayloadExtraction, ReadOnlyTargetKeepsItsOldBytesAndIsReported) {
  ASSERT_TRUE(WriteBytes(target_, kOldBytes));
  ASSERT_TRUE(SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  const Outcome outcome = Extract("kvx", target_);
  EXPECT_FALSE(outcome.written);
  ExpectInstallReport(outcome, target_);
  EXPECT_EQ(Contents(target_), kOldBytes);
  EXPECT_FALSE(PathExists(folder_ + "~kvx.cok"));
}

TEST_F(PayloadExtraction, TargetThatCannotBeMadeIsReported) {
  ASSERT_TRUE(CreateDirectoryA((folder_ + "dir.cok").c_str(), nullptr));
  const struct {
    const char* name;
    std::string target;
    std::string must_not_exist;
  } cases[] = {
      {"folder missing", folder_ + "missing\\kvx.cok", folder_ + "missing"},
      {"target is a folder", folder_ + "dir.cok", folder_ + "~dir.cok"},
      {"invalid file name", folder_ + "kvx?.cok", folder_ + "~kvx?.cok"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Extract("kvx", c.target);
    EXPECT_FALSE(outcome.written) << c.name;
    ExpectInstallReport(outcome, c.target);
    EXPECT_FALSE(PathExists(c.must_not_exist)) << c.name;
  }
  EXPECT_EQ(GetFileAttributesA((folder_ + "dir.cok").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(PayloadExtraction, MissingOrEmptyResourceWritesNothing) {
  const struct {
    const char* name;
    const char* resource;
    bool target_exists;
  } cases[] = {
      {"missing resource, no target", "nothere", false},
      {"missing resource, existing target", "nothere", true},
      {"empty resource, existing target", "empty", true},
      {"empty resource, no target", "empty", false},
  };
  for (const auto& c : cases) {
    RemoveTree(target_);
    if (c.target_exists) {
      ASSERT_TRUE(WriteBytes(target_, kOldBytes));
    }
    const Outcome outcome = Extract(c.resource, target_);
    EXPECT_FALSE(outcome.written) << c.name;
    ExpectInstallReport(outcome, target_);
    EXPECT_EQ(PathExists(target_), c.target_exists) << c.name;
    if (c.target_exists) {
      EXPECT_EQ(Contents(target_), kOldBytes) << c.name;
    }
    EXPECT_FALSE(PathExists(folder_ + "~kvx.cok")) << c.name;
  }
}

TEST_F(PayloadExtraction, GuardedModeWithoutTargetWritesDirectly) {
  const Outcome outcome = Extract("kvx", target_, true);
  EXPECT_TRUE(outcome.written);
  EXPECT_EQ(Contents(target_), payload_);
  EXPECT_FALSE(PathExists(folder_ + "~kvx.cok"));
  ExpectNoBox(outcome, "guarded write without a target");
}

// A 1 MiB disk mounted on a folder of the test; it goes, with its files, at the end.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& folder) : folder_(folder) {
    mounted_ = CreateDirectoryA(folder.c_str(), nullptr) && MountSmallDisk(folder, 1 << 20);
  }
  ~SmallDisk() {
    if (mounted_) UnmountSmallDisk(folder_);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

TEST_F(PayloadExtraction, FullDiskKeepsTheOldBytesAndLeavesNoTemporaryFile) {
  const std::string disk = folder_ + "disk\\";
  SmallDisk small_disk(disk);
  if (!small_disk.mounted()) GTEST_SKIP() << "no small disk can be mounted here (needs root)";
  const std::string target = disk + "kvx.cok";
  ASSERT_TRUE(WriteBytes(target, kOldBytes));
  bool full = false;
  {
    HANDLE file = CreateFileA((disk + "filler.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string block(4096, 'f');
    // 2 MiB is more than the whole disk holds.
    for (int i = 0; i < 512 && !full; ++i) {
      DWORD written = 0;
      full = !WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) ||
             written < block.size();
    }
    CloseHandle(file);
  }
  ASSERT_TRUE(full) << "the small disk never filled up";
  const Outcome outcome = Extract("kvx", target);
  EXPECT_FALSE(outcome.written);
  ExpectInstallReport(outcome, target);
  EXPECT_EQ(Contents(target), kOldBytes);
  EXPECT_FALSE(PathExists(disk + "~kvx.cok"));
}

TEST_F(PayloadExtraction, ReadOnlyFolderKeepsTheOldBytes) {
  const std::string disk = folder_ + "disk\\";
  SmallDisk small_disk(disk);
  if (!small_disk.mounted()) GTEST_SKIP() << "no small disk can be mounted here (needs root)";
  const std::string target = disk + "kvx.cok";
  ASSERT_TRUE(WriteBytes(target, kOldBytes));
  ASSERT_TRUE(RemountReadOnly(disk));
  const Outcome outcome = Extract("kvx", target);
  EXPECT_FALSE(outcome.written);
  ExpectInstallReport(outcome, target);
  EXPECT_EQ(Contents(target), kOldBytes);
  EXPECT_FALSE(PathExists(disk + "~kvx.cok"));
}

}  // namespace
}  // namespace kestrane
