#include "payload/guarded_write.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "language/language_files.h"
#include "payload/extract_payload.h"
#include "payload/older_version.h"
#include "progress/progress_window_win.h"
#include "startup/startup_settings.h"
#include "startup/message_text_win.h"
#include "support/box_answerer.h"
#include "support/held_target.h"
#include "support/test_files.h"
#include "payload/temp_name.h"
#include "startup/messages.h"

namespace kestrane {
namespace {

// The temporary name beside an ASCII target, as the writer makes it.
std::string TempNameOf(const std::string& target) {
  const std::u16string temp = MakeTempName(WideFromAnsi(target));
  return std::string(temp.begin(), temp.end());
}

constexpr DWORD kWindowWaitMillis = 5000;

// Version-carrying files of the numeric kinds, with their version where the probes read it
// and a filler that differs between files.
std::string Cok(int version, const std::string& filler) {
  return std::string("kvx\0\x22", 5) + static_cast<char>(version & 0xFF) +
         static_cast<char>(version >> 8) + filler;
}
std::string Pak(int version, const std::string& filler) {
  return std::string("PAK\0\0\0", 6) + static_cast<char>(version & 0xFF) +
         static_cast<char>(version >> 8) + filler;
}
std::string Bs3(int version, const std::string& filler) {
  return std::string("3BS\0\0\0", 6) + static_cast<char>(version) + filler;
}
std::string Lng(int version, const std::string& filler) {
  return "[langver]\r\n" + std::to_string(version) + "\r\n[" + filler + "]\r\ntext\r\n";
}

// The folder of this test program; the test programs are built beside it.
std::string OwnFolder() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

// An executable with the given version resource (version_en 1.0.3.12, version_ru 2.5.0.17,
// version_none without one).
std::string Program(const char* name) {
  std::string bytes;
  EXPECT_TRUE(ReadBytes(OwnFolder() + name + ".exe", &bytes)) << name;
  return bytes;
}

// The names a folder's change notifications mention, so that a test can tell whether a file
// was ever made there, even one that was gone again before the test could look.
class FolderChanges {
 public:
  explicit FolderChanges(const std::string& folder) : folder_(folder) {
    directory_ = CreateFileA(
        folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    watching_ = directory_ != INVALID_HANDLE_VALUE && event_ != nullptr && Issue();
  }
  ~FolderChanges() {
    if (directory_ != INVALID_HANDLE_VALUE) {
      CancelIo(directory_);
      CloseHandle(directory_);
    }
    if (event_ != nullptr) CloseHandle(event_);
  }
  FolderChanges(const FolderChanges&) = delete;
  FolderChanges& operator=(const FolderChanges&) = delete;

  bool watching() const { return watching_; }

  // Makes a marker file and collects notifications until its creation is seen, so that every
  // change made before it has come in. Returns the names seen before the marker, in order.
  std::vector<std::string> NamesSeen() {
    std::vector<std::string> names;
    const std::string marker = "zz_marker.txt";
    if (!watching_ || !WriteBytes(folder_ + marker, "marker")) {
      ADD_FAILURE() << "the folder cannot be watched";
      return names;
    }
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kWindowWaitMillis) {
      if (WaitForSingleObject(event_, 100) != WAIT_OBJECT_0) continue;
      DWORD bytes = 0;
      if (!GetOverlappedResult(directory_, &overlapped_, &bytes, FALSE) || bytes == 0) {
        ADD_FAILURE() << "change notifications were lost";
        return names;
      }
      const bool marker_seen = Parse(bytes, marker, &names);
      if (marker_seen || !Issue()) return names;
    }
    ADD_FAILURE() << "the marker's creation was never reported";
    return names;
  }

 private:
  bool Issue() {
    ResetEvent(event_);
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_;
    return ReadDirectoryChangesW(directory_, buffer_, sizeof buffer_, FALSE,
                                 FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                     FILE_NOTIFY_CHANGE_LAST_WRITE,
                                 nullptr, &overlapped_, nullptr) != FALSE;
  }

  // Appends the names of the records in the buffer; returns true when the marker was among
  // them (later records are then not wanted).
  bool Parse(DWORD bytes, const std::string& marker, std::vector<std::string>* names) {
    DWORD offset = 0;
    while (offset + sizeof(FILE_NOTIFY_INFORMATION) <= bytes) {
      const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_ + offset);
      char name[MAX_PATH * 2] = "";
      const int length = WideCharToMultiByte(
          CP_ACP, 0, record->FileName, static_cast<int>(record->FileNameLength / sizeof(WCHAR)),
          name, sizeof name, nullptr, nullptr);
      const std::string seen(name, length > 0 ? length : 0);
      if (seen == marker) return true;
      names->push_back(seen);
      if (record->NextEntryOffset == 0) break;
      offset += record->NextEntryOffset;
    }
    return false;
  }

  std::string folder_;
  HANDLE directory_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  OVERLAPPED overlapped_{};
  alignas(DWORD) char buffer_[64 * 1024];
  bool watching_ = false;
};

bool Mentions(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += name + " ";
  return joined;
}

class GuardedWrite : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTestFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_FALSE(folder_.empty());
    SetErrorTitles({"Проверка", "Payload test"});
    g_startupSettings.RussianUI = false;
    g_languageSupport.CurrentLanguageIndex = -1;
    // Whatever an earlier test left on the screen.
    HideProgressWindow();
  }
  void TearDown() override {
    HideProgressWindow();
    RemoveTree(folder_);
  }

  std::string Contents(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadBytes(path, &bytes)) << path;
    return bytes;
  }

  WriteOutcome Write(const std::string& bytes, const std::string& type, const std::string& target) {
    return WriteGuardedTo(bytes.data(), bytes.size(), type, target);
  }

  std::string folder_;
};

struct KindCase {
  const char* name;
  const char* type;
  std::string new_bytes;
  std::string existing_bytes;
  const char* existing_version = "";  // as the question names it
  const char* new_version = "";
};

TEST_F(GuardedWrite, MissingTargetIsWrittenUnderItsOwnNameWithoutATemporaryFile) {
  const struct {
    const char* type;
    std::string bytes;
  } cases[] = {
      {"cok", Cok(367, "new")}, {"pak", Pak(1, "new")},         {"3bs", Bs3(1, "new")},
      {"lng", Lng(1, "new")},   {"exe", Program("version_en")}, {"dat", "new data"},
  };
  for (const auto& c : cases) {
    const std::string file = std::string("x.") + c.type;
    BoxAnswerer answerer;
    FolderChanges changes(folder_);
    ASSERT_TRUE(changes.watching()) << "the folder cannot be watched here";
    EXPECT_EQ(Write(c.bytes, c.type, folder_ + file), WriteOutcome::kWritten) << c.type;
    const std::vector<std::string> seen = changes.NamesSeen();
    EXPECT_TRUE(Mentions(seen, file)) << c.type << ": " << Joined(seen);
    EXPECT_FALSE(Mentions(seen, "~" + file)) << c.type << ": " << Joined(seen);
    EXPECT_EQ(Contents(folder_ + file), c.bytes) << c.type;
    EXPECT_TRUE(answerer.Boxes().empty()) << c.type;
  }
}

TEST_F(GuardedWrite, ExistingTargetIsReplacedThroughATemporaryFile) {
  // The other side of the test above: the watch does see a temporary file when one is made.
  const struct {
    const char* type;
    std::string new_bytes;
    std::string existing_bytes;
  } cases[] = {
      {"pak", Pak(5, "new"), Pak(5, "old")},
      {"lng", Lng(5, "new"), Lng(4, "old")},
      {"dat", "new", "old"},
  };
  for (const auto& c : cases) {
    const std::string file = std::string("x.") + c.type;
    ASSERT_TRUE(WriteBytes(folder_ + file, c.existing_bytes));
    BoxAnswerer answerer;
    FolderChanges changes(folder_);
    ASSERT_TRUE(changes.watching());
    EXPECT_EQ(Write(c.new_bytes, c.type, folder_ + file), WriteOutcome::kWritten) << c.type;
    const std::vector<std::string> seen = changes.NamesSeen();
    EXPECT_TRUE(Mentions(seen, "~" + file)) << c.type << ": " << Joined(seen);
    EXPECT_FALSE(PathExists(folder_ + "~" + file)) << c.type;
    EXPECT_EQ(Contents(folder_ + file), c.new_bytes) << c.type;
    EXPECT_TRUE(answerer.Boxes().empty()) << c.type;
  }
}

TEST_F(GuardedWrite, EqualOrNewerVersionReplacesWithoutAQuestion) {
  const KindCase cases[] = {
      {"pak of equal version", "pak", Pak(7, "new"), Pak(7, "old, longer than new")},
      {"pak newer", "pak", Pak(8, "new"), Pak(7, "old")},
      {"cok of equal version", "cok", Cok(367, "new"), Cok(367, "old")},
      {"cok newer", "cok", Cok(367, "new"), Cok(366, "old")},
      {"cok existing too short to carry a version", "cok", Cok(1, "new"), "kvx"},
      {"3bs of equal version", "3bs", Bs3(200, "new"), Bs3(200, "old")},
      {"lng newer", "lng", Lng(13, "new"), Lng(12, "old")},
      {"exe newer", "exe", Program("version_ru"), Program("version_en")},
      {"exe of equal version", "exe", Program("version_en"), Program("version_en") + "x"},
      {"exe over one without a version resource", "exe", Program("version_en"),
       Program("version_none")},
      {"exe over a text file", "exe", Program("version_en"), "not a program"},
  };
  for (const auto& c : cases) {
    const std::string target = folder_ + "x." + c.type;
    ASSERT_TRUE(WriteBytes(target, c.existing_bytes)) << c.name;
    BoxAnswerer answerer;
    EXPECT_EQ(Write(c.new_bytes, c.type, target), WriteOutcome::kWritten) << c.name;
    EXPECT_EQ(Contents(target), c.new_bytes) << c.name;
    EXPECT_FALSE(PathExists(folder_ + "~x." + c.type)) << c.name;
    EXPECT_TRUE(answerer.Boxes().empty()) << c.name;
    EXPECT_TRUE(VisibleProgressWindows().empty()) << c.name << ": no question, no window";
  }
}

TEST_F(GuardedWrite, OtherKindsAndExclamationMarkLanguageFilesAreReplacedWithoutComparing) {
  ASSERT_TRUE(CreateDirectoryA((folder_ + "lang!").c_str(), nullptr));
  const struct {
    const char* name;
    const char* type;
    std::string target;
    std::string new_bytes;
    std::string existing_bytes;
  } cases[] = {
      {"dat that reads as an older cok", "dat", folder_ + "x.dat", Cok(1, "new"), Cok(368, "old")},
      {"dll", "dll", folder_ + "x.dll", Program("version_en"), Program("version_ru")},
      {"lng in a folder with !", "lng", folder_ + "lang!\\russian.lng", Lng(5, "new"),
       Lng(12, "old")},
      {"lng named with !", "lng", folder_ + "russian!.lng", Lng(5, "new"), Lng(12, "old")},
      {"lng with ! whose new copy has no version", "lng", folder_ + "!.lng", "no version",
       Lng(12, "old")},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteBytes(c.target, c.existing_bytes)) << c.name;
    BoxAnswerer answerer;
    EXPECT_EQ(Write(c.new_bytes, c.type, c.target), WriteOutcome::kWritten) << c.name;
    EXPECT_EQ(Contents(c.target), c.new_bytes) << c.name;
    EXPECT_FALSE(PathExists(TempNameOf(c.target))) << c.name;
    EXPECT_TRUE(answerer.Boxes().empty()) << c.name << ": no question, and no version read";
  }
}

std::vector<KindCase> OlderCases() {
  return {
      {"cok 367 over 368", "cok", Cok(367, "new"), Cok(368, "old, longer than new"), "368", "367"},
      {"cok type in capitals", "COK", Cok(367, "new"), Cok(368, "old"), "368", "367"},
      {"pak", "pak", Pak(1, "new"), Pak(65535, "old"), "65535", "1"},
      {"3bs", "3bs", Bs3(9, "new"), Bs3(10, "old"), "10", "9"},
      {"lng", "lng", Lng(11, "new"), Lng(12, "old"), "12", "11"},
      {"exe", "exe", Program("version_en"), Program("version_ru"), "2.5.0.17", "1.0.3.12"},
  };
}

// Checks the one box: the built-in question in the interface language naming the target and
// the two versions, asked while no progress window was up.
void ExpectOlderQuestion(const std::vector<AnsweredBox>& boxes, const std::string& target,
                         const KindCase& c) {
  ASSERT_EQ(boxes.size(), 1u) << c.name;
  const OlderQuestion expected = BuiltInOlderQuestion(
      g_startupSettings.RussianUI, WideFromAnsi(target), c.existing_version, c.new_version);
  EXPECT_EQ(boxes[0].caption, WideText(expected.caption)) << c.name;
  EXPECT_EQ(boxes[0].text, WideText(expected.text)) << c.name;
  EXPECT_TRUE(boxes[0].yes_no) << c.name;
  EXPECT_FALSE(boxes[0].progress_visible) << c.name << ": the window is hidden for the question";
}

// Checks that the empty progress window is up again after the question.
void ExpectEmptyProgressWindow(const char* name) {
  HWND window = WaitForVisibleProgressWindow(kWindowWaitMillis);
  ASSERT_NE(window, nullptr) << name << ": the progress window is shown after the question";
  EXPECT_EQ(WindowTextOf(window), "") << name;
  EXPECT_EQ(WindowTextOf(window, true), "") << name;
}

TEST_F(GuardedWrite, OlderFileAnsweredNoLeavesTheTargetAndRemovesTheCopy) {
  for (bool russian : {false, true}) {
    g_startupSettings.RussianUI = russian;
    for (const KindCase& c : OlderCases()) {
      const std::string target = folder_ + "x." + c.type;
      ASSERT_TRUE(WriteBytes(target, c.existing_bytes)) << c.name;
      std::vector<AnsweredBox> boxes;
      {
        BoxAnswerer answerer({{IDNO, nullptr}});
        EXPECT_EQ(Write(c.new_bytes, c.type, target), WriteOutcome::kKept) << c.name;
        boxes = answerer.Boxes();
      }
      ExpectOlderQuestion(boxes, target, c);
      EXPECT_EQ(Contents(target), c.existing_bytes) << c.name;
      EXPECT_FALSE(PathExists(TempNameOf(target))) << c.name;
      ExpectEmptyProgressWindow(c.name);
      HideProgressWindow();
    }
  }
}

TEST_F(GuardedWrite, OlderFileAnsweredYesReplacesTheTarget) {
  for (const KindCase& c : OlderCases()) {
    const std::string target = folder_ + "x." + c.type;
    ASSERT_TRUE(WriteBytes(target, c.existing_bytes)) << c.name;
    std::vector<AnsweredBox> boxes;
    {
      BoxAnswerer answerer({{IDYES, nullptr}});
      EXPECT_EQ(Write(c.new_bytes, c.type, target), WriteOutcome::kWritten) << c.name;
      boxes = answerer.Boxes();
    }
    ExpectOlderQuestion(boxes, target, c);
    EXPECT_EQ(Contents(target), c.new_bytes) << c.name;
    EXPECT_FALSE(PathExists(TempNameOf(target))) << c.name;
    ExpectEmptyProgressWindow(c.name);
    HideProgressWindow();
  }
}

TEST_F(GuardedWrite, LanguageFileWhoseNewCopyHasNoVersionIsReportedByItsTemporaryName) {
  const std::string target = folder_ + "russian.lng";
  ASSERT_TRUE(WriteBytes(target, Lng(12, "old")));
  std::vector<AnsweredBox> boxes;
  {
    BoxAnswerer answerer({{IDOK, nullptr}, {IDNO, nullptr}});
    EXPECT_EQ(Write("[langver]\r\ntwelve\r\n", "lng", target), WriteOutcome::kKept);
    boxes = answerer.Boxes();
  }
  // The unreadable new version counts as 0, older than 12.
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text,
            L"Can't handle the language support file " + FromAnsi(folder_ + "~russian.lng"));
  EXPECT_EQ(boxes[1].text,
            WideText(BuiltInOlderQuestion(false, WideFromAnsi(target), "12", "0").text));
  EXPECT_EQ(Contents(target), Lng(12, "old"));
  EXPECT_FALSE(PathExists(folder_ + "~russian.lng"));
}

TEST_F(GuardedWrite, ProgressWindowShownBeforeIsHiddenForTheQuestionAndShownEmptyAfter) {
  ShowProgressWindow("Installing", "kvx.cok");
  HWND window = WaitForVisibleProgressWindow(kWindowWaitMillis);
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(WindowTextOf(window), "Installing");
  const std::string target = folder_ + "x.cok";
  ASSERT_TRUE(WriteBytes(target, Cok(368, "old")));
  BoxAnswerer answerer({{IDNO, nullptr}});
  EXPECT_EQ(Write(Cok(367, "new"), "cok", target), WriteOutcome::kKept);
  const std::vector<AnsweredBox> boxes = answerer.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(boxes[0].progress_visible);
  ExpectEmptyProgressWindow("shown before");
}

// Through ExtractPayload, whose one handler reports: the resource KVX COK of this program is
// a "cok" file of version 367.
class GuardedExtraction : public GuardedWrite {
 protected:
  void SetUp() override {
    GuardedWrite::SetUp();
    target_ = folder_ + "kvx.cok";
    old_bytes_ = Cok(368, "installed bytes that must survive");
  }
  void TearDown() override {
    g_languageSupport.OpenLanguageFile.Close();
    g_languageSupport.FolderLanguageFile.Close();
    g_languageSupport.LanguageFiles.clear();
    g_languageSupport.CurrentLanguageIndex = g_languageSupport.CurrentLanguageId = -1;
    g_languageSupport.RussianLanguageIndex = g_languageSupport.EnglishLanguageIndex = -1;
    g_languageSupport.OpenLanguageFileName.clear();
    GuardedWrite::TearDown();
  }

  std::string target_;
  std::string old_bytes_;
};

TEST_F(GuardedExtraction, TargetHeldOpenDuringTheReplaceIsReportedOnceAndKeepsItsBytes) {
  ASSERT_TRUE(WriteBytes(target_, old_bytes_));
  // The window is up before, so that a show after the failure would be seen at once.
  ShowProgressWindow("", "");
  ASSERT_NE(WaitForVisibleProgressWindow(kWindowWaitMillis), nullptr);
  HANDLE held = INVALID_HANDLE_VALUE;
  // The host application opens its data file while the question is up and lets nobody write.
  auto hold = [&] {
    held = CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  std::vector<AnsweredBox> boxes;
  bool written = true;
  {
    BoxAnswerer answerer({{IDYES, hold}, {IDOK, nullptr}});
    written = ExtractPayloadTo("kvx", "cok", target_, true);
    boxes = answerer.Boxes();
  }
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(written);
  ASSERT_EQ(boxes.size(), 2u) << "the question, then one report";
  EXPECT_TRUE(boxes[0].yes_no);
  EXPECT_EQ(boxes[1].text, L"Can't install file " + FromAnsi(target_));
  EXPECT_EQ(boxes[1].caption, L"Payload test");
  EXPECT_FALSE(boxes[1].progress_visible);
  EXPECT_TRUE(VisibleProgressWindows().empty()) << "no show after a failed replace";
  EXPECT_FALSE(PathExists(folder_ + "~kvx.cok"));
  CloseHandle(held);
  EXPECT_EQ(Contents(target_), old_bytes_);
}

TEST_F(GuardedExtraction, TargetHeldOpenThroughoutCannotBeReadNorReplaced) {
  ASSERT_TRUE(WriteBytes(target_, old_bytes_));
  HANDLE held = CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  for (bool russian : {false, true}) {
    g_startupSettings.RussianUI = russian;
    std::vector<AnsweredBox> boxes;
    bool written = true;
    {
      BoxAnswerer answerer;
      written = ExtractPayloadTo("kvx", "cok", target_, true);
      boxes = answerer.Boxes();
    }
    EXPECT_FALSE(written);
    // Its version cannot be read, which counts as 0: no question, only the report.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, (russian ? L"Не удается установить файл " : L"Can't install file ") +
                                 FromAnsi(target_));
    EXPECT_FALSE(PathExists(folder_ + "~kvx.cok"));
  }
  CloseHandle(held);
  EXPECT_EQ(Contents(target_), old_bytes_);
}

TEST_F(GuardedExtraction, ReadOnlyTargetAnsweredYesIsReportedAndKeepsItsBytes) {
  ASSERT_TRUE(WriteBytes(target_, old_bytes_));
  ASSERT_TRUE(SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  std::vector<AnsweredBox> boxes;
  {
    BoxAnswerer answerer({{IDYES, nullptr}, {IDOK, nullptr}});
    EXPECT_FALSE(ExtractPayloadTo("kvx", "cok", target_, true));
    boxes = answerer.Boxes();
  }
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, L"Can't install file " + FromAnsi(target_));
  EXPECT_EQ(Contents(target_), old_bytes_);
  EXPECT_FALSE(PathExists(folder_ + "~kvx.cok"));
}

TEST_F(GuardedExtraction, AnswerNoIsNoFailure) {
  ASSERT_TRUE(WriteBytes(target_, old_bytes_));
  std::vector<AnsweredBox> boxes;
  {
    BoxAnswerer answerer({{IDNO, nullptr}});
    EXPECT_FALSE(ExtractPayloadTo("kvx", "cok", target_, true)) << "the new bytes are not in place";
    boxes = answerer.Boxes();
  }
  ASSERT_EQ(boxes.size(), 1u) << "the question and no report";
  EXPECT_EQ(boxes[0].caption, L"Sound question");
  EXPECT_EQ(boxes[0].text, FromAnsi(target_) +
                               L" file installing is of older version\r\n"
                               L"than the same already installed.\r\n\r\n"
                               L"Do you really want to replace existing\r\n"
                               L"new file version 368 with an older file version 367?");
  EXPECT_EQ(Contents(target_), old_bytes_);
  EXPECT_FALSE(PathExists(folder_ + "~kvx.cok"));
}

TEST_F(GuardedExtraction, TargetThatCannotBeMadeIsReportedOnce) {
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
    std::vector<AnsweredBox> boxes;
    {
      BoxAnswerer answerer;
      EXPECT_FALSE(ExtractPayloadTo("kvx", "cok", c.target, true)) << c.name;
      boxes = answerer.Boxes();
    }
    ASSERT_EQ(boxes.size(), 1u) << c.name;
    EXPECT_EQ(boxes[0].text, L"Can't install file " + FromAnsi(c.target)) << c.name;
    EXPECT_FALSE(PathExists(c.must_not_exist)) << c.name;
  }
  EXPECT_NE(GetFileAttributesA((folder_ + "dir.cok").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(GuardedExtraction, MissingTargetOnAFullDiskLeavesNoPartialFile) {
  const std::string disk = folder_ + "disk\\";
  ASSERT_TRUE(CreateDirectoryA(disk.c_str(), nullptr));
  if (!MountSmallDisk(disk, 1 << 20)) GTEST_SKIP() << "no small disk can be mounted (needs root)";
  // Filled but for a few bytes, fewer than the payload needs.
  HANDLE filler = CreateFileA((disk + "filler.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(filler, INVALID_HANDLE_VALUE);
  const std::string block(4096, 'f');
  bool full = false;
  for (int i = 0; i < 512 && !full; ++i) {
    DWORD written = 0;
    full = !WriteFile(filler, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) ||
           written < block.size();
  }
  CloseHandle(filler);
  const std::string target = disk + "kvx.cok";
  std::vector<AnsweredBox> boxes;
  {
    BoxAnswerer answerer;
    EXPECT_FALSE(ExtractPayloadTo("kvx", "cok", target, true));
    boxes = answerer.Boxes();
  }
  const bool partial_left = PathExists(target);
  UnmountSmallDisk(disk);
  EXPECT_FALSE(partial_left) << "the partly written target is removed";
  ASSERT_TRUE(full) << "the small disk never filled up";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"Can't install file " + FromAnsi(target));
}

TEST_F(GuardedExtraction, ChosenLanguageAsksWithItsOwnCaptionAndText) {
  ASSERT_TRUE(WriteBytes(target_, old_bytes_));
  ASSERT_TRUE(WriteBytes(folder_ + "deutsch.lng",
                         "[langver]\r\n3\r\n[soundquest]\r\nKlangfrage\r\n\r\n[olderfilever]\r\n"
                         "Die Datei %1\r\nist \xE4lter. Ersetzen?\r\n\r\n"));
  LanguageSupport& language = g_languageSupport;
  language.LanguageFiles = {"deutsch.lng"};
  language.RussianLanguageIndex = language.EnglishLanguageIndex = 0;
  language.CurrentLanguageIndex = 0;
  language.CurrentLanguageId = 0x0407;
  language.OpenLanguageFileName = folder_ + "deutsch.lng";
  for (bool russian : {false, true}) {
    g_startupSettings.RussianUI = russian;
    std::vector<AnsweredBox> boxes;
    {
      BoxAnswerer answerer({{IDNO, nullptr}});
      EXPECT_FALSE(ExtractPayloadTo("kvx", "cok", target_, true));
      boxes = answerer.Boxes();
    }
    ASSERT_EQ(boxes.size(), 1u);
    // The file's text is read in its language's code page (1252 for German) on any system.
    EXPECT_EQ(boxes[0].caption, L"Klangfrage");
    EXPECT_EQ(boxes[0].text, L"Die Datei " + FromAnsi(target_) + L"\r\nist \u00E4lter. Ersetzen?");
    EXPECT_TRUE(boxes[0].yes_no);
    EXPECT_EQ(Contents(target_), old_bytes_);
    ExpectEmptyProgressWindow("chosen language");
  }
}

}  // namespace
}  // namespace kestrane
