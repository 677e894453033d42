#include "language/language_files.h"
#include "startup/message_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "environment/install_environment.h"
#include "report_capture.h"
#include "startup/startup_settings.h"

namespace kestrane {
namespace {

constexpr char kEnglishFile[] = "english.lng";
constexpr char kRussianFile[] = "russian.lng";
constexpr char kChosenFile[] = "chosen.lng";
constexpr char kEnglishReport[] = "Can't handle the language support file english.lng";
constexpr char kChosenReport[] = "Can't handle the language support file chosen.lng";

// A folder that stands for the host application's install folder. The lookups append
// "language\" to it, which on this system is part of the file's name.
class LanguageFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "language_files_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
    g_installEnvironment.InstallDir = Utf16FromUtf8(dir_);
    LanguageSupport& state = g_languageSupport;
    state.OpenLanguageFile.Close();
    state.FolderLanguageFile.Close();
    state.LanguageFiles = {kEnglishFile, kRussianFile, kChosenFile};
    state.EnglishLanguageIndex = 0;
    state.RussianLanguageIndex = 1;
    state.CurrentLanguageIndex = 2;
    state.CurrentLanguageId = 0x409;
    state.OpenLanguageFileName = dir_ + kChosenFile;
    state.KeepFolderFileOpen = true;
    g_startupSettings.RussianUI = false;
    g_reportCapture.Clear();
  }

  void TearDown() override {
    g_languageSupport.OpenLanguageFile.Close();
    g_languageSupport.FolderLanguageFile.Close();
    for (const std::string& path : written_) std::remove(path.c_str());
    written_.clear();
    rmdir(dir_.c_str());
  }

  // Table rows each start from a fresh folder and state.
  void StartCase() {
    TearDown();
    SetUp();
  }

  void Write(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
    written_.push_back(path);
  }
  // The folder file of a language, as ReadLanguageKey opens it.
  void WriteFolderFile(const std::string& name, const std::string& bytes) {
    Write(dir_ + "language\\" + name, bytes);
  }
  void WriteOpenFile(const std::string& bytes) { Write(dir_ + kChosenFile, bytes); }

  std::vector<std::string> ReportedTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : g_reportCapture.messages) {
      EXPECT_EQ(m.kind, CapturedMessage::kError);
      texts.push_back(m.english_or_text);
    }
    return texts;
  }

  std::string dir_;
  std::vector<std::string> written_;
};

enum class Lookup { kOpenKey, kOpenKeyLines, kFolderKey, kFolderKeyLines };

std::string RunLookup(Lookup lookup, const std::string& key, bool skip_first_line) {
  switch (lookup) {
    case Lookup::kOpenKey:
      return ReadOpenLanguageKey(key);
    case Lookup::kOpenKeyLines:
      return ReadOpenLanguageKeyLines(key, skip_first_line);
    case Lookup::kFolderKey:
      return ReadLanguageKey(key);
    case Lookup::kFolderKeyLines:
      return ReadLanguageKeyLines(key, skip_first_line);
  }
  return "unreachable";
}

struct LookupCase {
  const char* name;
  std::string open_file;    // content of the chosen language's file
  std::string folder_file;  // content of the interface language's folder file
  Lookup lookup;
  std::string key;
  bool skip_first_line;
  std::string text;
};

TEST_F(LanguageFilesTest, SingleLineValuesAreTheWholeLineAfterTheHeader) {
  const std::string folder = "[greeting]\nFrom the folder\n";
  const LookupCase cases[] = {
      {"mixed-case header", "[Greeting]\nHello\n", folder, Lookup::kOpenKey, "greeting", false,
       "Hello"},
      {"upper-case header", "[GREETING]\nHello\n", folder, Lookup::kOpenKey, "greeting", false,
       "Hello"},
      {"remark after the header, value with leading spaces",
       "[greeting] caption of the box\n   Hello there \n", folder, Lookup::kOpenKey, "greeting",
       false, "   Hello there "},
      {"header after a blank is no header, so the folder answers", " [greeting]\nHello\n", folder,
       Lookup::kOpenKey, "greeting", false, "From the folder"},
      {"first header wins", "[k]\nfirst\n[k]\nsecond\n", "", Lookup::kOpenKey, "k", false, "first"},
      {"value after other sections", "[a]\n1\n\n[b]\n2\n[k]\nthird\n", "", Lookup::kOpenKey, "k",
       false, "third"},
      {"CR LF line ends", "[k]\r\nHello\r\n", "", Lookup::kOpenKey, "k", false, "Hello"},
      {"value line may look like a header", "[k]\n[k]\n", "", Lookup::kOpenKey, "k", false, "[k]"},
      {"NUL bytes are kept", std::string("[k]\nA\0B\n", 8), "", Lookup::kOpenKey, "k", false,
       std::string("A\0B", 3)},
      {"file without line ends", "[k]", "", Lookup::kOpenKey, "k", false, ""},
      {"header as last line falls back to the folder file", "[other]\nx\n[greeting]", folder,
       Lookup::kOpenKey, "greeting", false, "From the folder"},
      {"empty value line falls back to the folder file", "[greeting]\n\nnext\n", folder,
       Lookup::kOpenKey, "greeting", false, "From the folder"},
      {"missing key falls back to the folder file", "[other]\nx\n", folder, Lookup::kOpenKey,
       "greeting", false, "From the folder"},
      {"missing everywhere is empty", "[other]\nx\n", "[else]\ny\n", Lookup::kOpenKey, "greeting",
       false, ""},
      {"header as last line of the folder file", "", "[a]\nx\n[greeting]", Lookup::kOpenKey,
       "greeting", false, ""},
      {"folder lookup", "", "[k]\n  A\nB\n", Lookup::kFolderKey, "k", false, "  A"},
      {"folder lookup, header as last line", "", "[k]\n", Lookup::kFolderKey, "k", false, ""},
  };
  for (const auto& c : cases) {
    StartCase();
    WriteOpenFile(c.open_file);
    WriteFolderFile(kEnglishFile, c.folder_file);
    EXPECT_EQ(RunLookup(c.lookup, c.key, c.skip_first_line), c.text) << c.name;
    EXPECT_TRUE(g_reportCapture.messages.empty()) << c.name;
  }
}

TEST_F(LanguageFilesTest, BlocksRunToTheFirstBlankLineJoinedWithCrLf) {
  const LookupCase cases[] = {
      {"two lines, then an empty line", "[k]\nA\nB\n\nC\n", "", Lookup::kOpenKeyLines, "k", false,
       "A\r\nB"},
      {"skip first line", "[k]\nA\nB\n\nC\n", "", Lookup::kOpenKeyLines, "k", true, "B"},
      {"a line of spaces ends the block", "[k]\nA\nB\n   \nC\n", "", Lookup::kOpenKeyLines, "k",
       false, "A\r\nB"},
      {"a line of tabs ends the block", "[k]\nA\n\t\nC\n", "", Lookup::kOpenKeyLines, "k", false,
       "A"},
      {"end of the file ends the block", "[k]\nA\nB", "", Lookup::kOpenKeyLines, "k", false,
       "A\r\nB"},
      {"lines are kept untrimmed", "[k]\nA \n  B\n", "", Lookup::kOpenKeyLines, "k", false,
       "A \r\n  B"},
      {"CR LF file", "[k]\r\nA\r\nB\r\n\r\nC\r\n", "", Lookup::kOpenKeyLines, "k", false, "A\r\nB"},
      {"a following header is part of the block", "[k]\nA\n[next]\nB\n", "", Lookup::kOpenKeyLines,
       "k", false, "A\r\n[next]\r\nB"},
      {"single line block", "[k]\nA\n", "", Lookup::kOpenKeyLines, "k", false, "A"},
      {"skip first line of a single line block", "[k]\nA\n", "", Lookup::kOpenKeyLines, "k", true,
       ""},
      {"value found in the open file is not looked up in the folder", "[k]\nA\n", "[k]\nfolder\n",
       Lookup::kOpenKeyLines, "k", false, "A"},
      {"fallback block keeps its first line despite skip", "[other]\nx\n", "[k]\nA\nB\n\nC\n",
       Lookup::kOpenKeyLines, "k", true, "A\r\nB"},
      {"empty first line in the open file falls back", "[k]\n\nB\n", "[k]\nF\n",
       Lookup::kOpenKeyLines, "k", false, "F"},
      {"missing everywhere", "[other]\nx\n", "[other]\ny\n", Lookup::kOpenKeyLines, "k", false, ""},
      {"folder block", "", "[k]\nA\nB\n\nC\n", Lookup::kFolderKeyLines, "k", false, "A\r\nB"},
      {"folder block, skip first line", "", "[k]\nA\nB\n\nC\n", Lookup::kFolderKeyLines, "k", true,
       "B"},
      {"folder block keeps an empty first line", "", "[k]\n\nB\nC\n", Lookup::kFolderKeyLines, "k",
       false, "\r\nB\r\nC"},
      {"folder block of a missing key", "", "[a]\nx\n", Lookup::kFolderKeyLines, "k", false, ""},
      {"folder block, header as last line", "", "[k]", Lookup::kFolderKeyLines, "k", false, ""},
  };
  for (const auto& c : cases) {
    StartCase();
    WriteOpenFile(c.open_file);
    WriteFolderFile(kEnglishFile, c.folder_file);
    EXPECT_EQ(RunLookup(c.lookup, c.key, c.skip_first_line), c.text) << c.name;
    EXPECT_TRUE(g_reportCapture.messages.empty()) << c.name;
  }
}

TEST_F(LanguageFilesTest, FolderFileFollowsTheInterfaceLanguage) {
  WriteFolderFile(kEnglishFile, "[k]\nEnglish\n");
  WriteFolderFile(kRussianFile, "[k]\n\xD0\xF3\xF1\xF1\xEA\xE8\xE9\n");
  g_startupSettings.RussianUI = true;
  EXPECT_EQ(ReadLanguageKey("k"), "\xD0\xF3\xF1\xF1\xEA\xE8\xE9");
  g_startupSettings.RussianUI = false;
  EXPECT_EQ(ReadLanguageKey("k"), "English");
  EXPECT_TRUE(g_reportCapture.messages.empty());
}

TEST_F(LanguageFilesTest, KeepFolderFileOpenPairsASingleLineLookupWithItsContinuation) {
  WriteOpenFile("[other]\nx\n");
  WriteFolderFile(kEnglishFile, "[k]\nA\nB\n\nC\n");
  LanguageSupport& state = g_languageSupport;

  // The flag starts true, so the first fallback of a plain lookup gives the block...
  EXPECT_EQ(ReadOpenLanguageKey("k"), "A\r\nB");
  EXPECT_FALSE(state.KeepFolderFileOpen);
  EXPECT_FALSE(state.FolderLanguageFile.IsOpen());
  // ...and every later one the single line, closing the file behind it.
  EXPECT_EQ(ReadOpenLanguageKey("k"), "A");
  EXPECT_FALSE(state.FolderLanguageFile.IsOpen());
  // A block lookup sets the flag again before its first line.
  EXPECT_EQ(ReadOpenLanguageKeyLines("k", false), "A\r\nB");
  EXPECT_FALSE(state.KeepFolderFileOpen);

  // A single-line folder lookup with the flag set leaves the file open after the value line.
  state.KeepFolderFileOpen = true;
  EXPECT_EQ(ReadLanguageKey("k"), "A");
  EXPECT_FALSE(state.KeepFolderFileOpen);
  ASSERT_TRUE(state.FolderLanguageFile.IsOpen());
  std::string next;
  ASSERT_TRUE(state.FolderLanguageFile.ReadLine(&next));
  EXPECT_EQ(next, "B");
  // With the flag clear the lookup closes it.
  EXPECT_EQ(ReadLanguageKey("k"), "A");
  EXPECT_FALSE(state.FolderLanguageFile.IsOpen());

  // A value found in the open file leaves the flag set for the continuation.
  WriteOpenFile("[k]\nO1\nO2\n");
  EXPECT_EQ(ReadOpenLanguageKeyLines("k", false), "O1\r\nO2");
  EXPECT_TRUE(state.KeepFolderFileOpen);
  EXPECT_TRUE(g_reportCapture.messages.empty());
}

TEST_F(LanguageFilesTest, OpenFileIsReadFromItsFirstLineOnEveryLookup) {
  WriteOpenFile("[a]\n1\n[b]\n2\n");
  EXPECT_EQ(ReadOpenLanguageKey("b"), "2");
  EXPECT_EQ(ReadOpenLanguageKey("a"), "1");
  EXPECT_EQ(ReadOpenLanguageKey("b"), "2");
  EXPECT_TRUE(g_languageSupport.OpenLanguageFile.IsOpen());
}

TEST_F(LanguageFilesTest, UnreadableFilesAreReportedOnce) {
  struct FailureCase {
    const char* name;
    bool open_file_exists;
    bool folder_file_exists;
    Lookup lookup;
    bool skip_first_line;
    std::string text;
    std::vector<std::string> reports;
  };
  const FailureCase cases[] = {
      {"open file missing: no fallback", false, true, Lookup::kOpenKey, false, "", {kChosenReport}},
      {"open file missing, block", false, true, Lookup::kOpenKeyLines, false, "", {kChosenReport}},
      {"folder file missing on fallback",
       true,
       false,
       Lookup::kOpenKey,
       false,
       "",
       {kEnglishReport}},
      // The failed fallback leaves the flag set, so the block goes on in the open file.
      {"folder file missing on fallback, block",
       true,
       false,
       Lookup::kOpenKeyLines,
       false,
       "\r\nB\r\nC",
       {kEnglishReport}},
      {"folder file missing on fallback, block without its first line",
       true,
       false,
       Lookup::kOpenKeyLines,
       true,
       "B\r\nC",
       {kEnglishReport}},
      {"folder file missing", true, false, Lookup::kFolderKey, false, "", {kEnglishReport}},
      {"folder file missing, block",
       true,
       false,
       Lookup::kFolderKeyLines,
       false,
       "",
       {kEnglishReport}},
  };
  for (const auto& c : cases) {
    StartCase();
    if (c.open_file_exists) WriteOpenFile("[k]\n\nB\nC\n\nafter\n");
    if (c.folder_file_exists) WriteFolderFile(kEnglishFile, "[k]\nfolder\n");
    EXPECT_EQ(RunLookup(c.lookup, "k", c.skip_first_line), c.text) << c.name;
    EXPECT_EQ(ReportedTexts(), c.reports) << c.name;
    // A failed lookup leaves the flag as it was.
    EXPECT_TRUE(g_languageSupport.KeepFolderFileOpen) << c.name;
  }
}

TEST_F(LanguageFilesTest, ReportNamesTheFileInBothLanguages) {
  ReadLanguageKey("k");
  ASSERT_EQ(g_reportCapture.messages.size(), 1u);
  EXPECT_EQ(g_reportCapture.messages[0].english_or_text, kEnglishReport);
  // "Не удаётся работать с файлом языковой поддержки " in code page 1251.
  EXPECT_EQ(g_reportCapture.messages[0].russian_or_caption,
            "\xCD\xE5 \xF3\xE4\xE0\xB8\xF2\xF1\xFF \xF0\xE0\xE1\xEE\xF2\xE0\xF2\xFC \xF1 "
            "\xF4\xE0\xE9\xEB\xEE\xEC \xFF\xE7\xFB\xEA\xEE\xE2\xEE\xE9 "
            "\xEF\xEE\xE4\xE4\xE5\xF0\xE6\xEA\xE8 english.lng");
}

TEST_F(LanguageFilesTest, StateWithoutEntriesIsReportedNotRead) {
  WriteOpenFile("[other]\nx\n");
  WriteFolderFile(kEnglishFile, "[k]\nA\n");
  g_languageSupport.EnglishLanguageIndex = 7;
  EXPECT_EQ(ReadLanguageKey("k"), "");
  g_languageSupport.OpenLanguageFileName.clear();
  g_languageSupport.CurrentLanguageIndex = -1;
  EXPECT_EQ(ReadOpenLanguageKeyLines("k", false), "");
  const std::string no_name = "Can't handle the language support file ";
  EXPECT_EQ(ReportedTexts(), (std::vector<std::string>{no_name, no_name}));
}

TEST_F(LanguageFilesTest, ReadFailureAfterOpeningIsReported) {
  // A folder opens as a file here but every read of it fails.
  const std::string folder_path = dir_ + "language\\" + kEnglishFile;
  ASSERT_EQ(mkdir(folder_path.c_str(), 0700), 0);
  WriteOpenFile("[other]\nx\n");
  EXPECT_EQ(ReadOpenLanguageKey("k"), "");
  EXPECT_EQ(ReportedTexts(), (std::vector<std::string>{kEnglishReport}));
  rmdir(folder_path.c_str());
}

TEST_F(LanguageFilesTest, LanguageTextFillsThePlaceholdersOfTheBlock) {
  WriteOpenFile(
      "[olderfilever]\nReplace %1?\n\n"
      "[twolines]\nCaption %1\nFile %1 is older\n\n");
  EXPECT_EQ(LanguageText("olderfilever", {"C:\\Games\\a.lng"}, false), "Replace C:\\Games\\a.lng?");
  EXPECT_EQ(LanguageText("twolines", {"x.pak"}, false), "Caption x.pak\r\nFile x.pak is older");
  EXPECT_EQ(LanguageText("twolines", {"x.pak"}, true), "File x.pak is older");
  EXPECT_EQ(LanguageText("missing", {"x.pak"}, false), "");
}

TEST_F(LanguageFilesTest, HostileFilesGiveTextsBoundedByTheFile) {
  const std::string long_line(3 << 20, 'x');
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>(i * 7919 % 256));
  const struct {
    const char* name;
    std::string bytes;
    std::string text;
  } cases[] = {
      {"megabytes on one line", "[k]\n" + long_line, long_line},
      {"megabytes before the header", long_line + "\n[k]\nv\n", "v"},
      {"binary bytes without the key", binary, ""},
      {"only line feeds", std::string(100000, '\n'), ""},
      {"only carriage returns then the key", std::string(100000, '\r') + "\n[k]\nv", "v"},
  };
  for (const auto& c : cases) {
    StartCase();
    WriteOpenFile(c.bytes);
    WriteFolderFile(kEnglishFile, c.bytes);
    EXPECT_EQ(ReadOpenLanguageKeyLines("k", false), c.text) << c.name;
    EXPECT_TRUE(g_reportCapture.messages.empty()) << c.name;
  }
}

}  // namespace
}  // namespace kestrane
