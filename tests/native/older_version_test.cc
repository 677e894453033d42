#include "payload/older_version.h"

#include <gtest/gtest.h>

#include "widen.h"
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "language/language_files.h"
#include "report_capture.h"
#include "startup/startup_settings.h"

namespace kestrane {
namespace {

// The Russian texts as the installer must carry them, in code page 1251 bytes, written out
// so that they do not depend on how this file is compiled.
const std::string kRussianCaption = "\xD0\xE5\xE7\xEE\xED\xED\xFB\xE9 \xE2\xEE\xEF\xF0\xEE\xF1";
const std::string kRussianInstalling =  // "Устанавливаемый файл "
    "\xD3\xF1\xF2\xE0\xED\xE0\xE2\xEB\xE8\xE2\xE0\xE5\xEC\xFB\xE9 \xF4\xE0\xE9\xEB ";
const std::string kRussianOlder =  // "более старой версии, чем уже установленный."
    "\xE1\xEE\xEB\xE5\xE5 \xF1\xF2\xE0\xF0\xEE\xE9 \xE2\xE5\xF0\xF1\xE8\xE8, \xF7\xE5\xEC "
    "\xF3\xE6\xE5 \xF3\xF1\xF2\xE0\xED\xEE\xE2\xEB\xE5\xED\xED\xFB\xE9.";
const std::string kRussianReally =  // "Действительно ли Вы хотите заменить уже имеющийся"
    "\xC4\xE5\xE9\xF1\xF2\xE2\xE8\xF2\xE5\xEB\xFC\xED\xEE \xEB\xE8 \xC2\xFB "
    "\xF5\xEE\xF2\xE8\xF2\xE5 \xE7\xE0\xEC\xE5\xED\xE8\xF2\xFC \xF3\xE6\xE5 "
    "\xE8\xEC\xE5\xFE\xF9\xE8\xE9\xF1\xFF";
const std::string kRussianFileVersion =
    "\xF4\xE0\xE9\xEB \xE2\xE5\xF0\xF1\xE8\xE8 ";  // "файл версии "
const std::string kRussianWithOlder =              // " на более старый версии "
    " \xED\xE0 \xE1\xEE\xEB\xE5\xE5 \xF1\xF2\xE0\xF0\xFB\xE9 \xE2\xE5\xF0\xF1\xE8\xE8 ";

const char kTarget[] = "C:\\Games\\Kestrane\\kvx.cok";

TEST(OlderVersionKinds, FiveTypesCarryVersionsWhateverTheirLetterCase) {
  const struct {
    const char* type;
    VersionKind kind;
  } cases[] = {
      {"exe", VersionKind::kExecutable}, {"EXE", VersionKind::kExecutable},
      {"pak", VersionKind::kPak},        {"Pak", VersionKind::kPak},
      {"3bs", VersionKind::k3bs},        {"3BS", VersionKind::k3bs},
      {"cok", VersionKind::kCok},        {"COK", VersionKind::kCok},
      {"lng", VersionKind::kLng},        {"lnG", VersionKind::kLng},
      {"dat", VersionKind::kNone},       {"", VersionKind::kNone},
      {"co", VersionKind::kNone},        {"cokk", VersionKind::kNone},
      {"cok ", VersionKind::kNone},      {".cok", VersionKind::kNone},
      {"dll", VersionKind::kNone},       {"ex\xC5", VersionKind::kNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VersionKindOf(c.type), c.kind) << '"' << c.type << '"';
  }
}

TEST(OlderVersionKinds, LanguageFilesUnderAnExclamationMarkAreNotCompared) {
  const struct {
    VersionKind kind;
    const char* target;
    bool compared;
  } cases[] = {
      {VersionKind::kLng, "C:\\Games\\Kestrane\\language\\russian.lng", true},
      {VersionKind::kLng, "C:\\Games\\Kestrane\\language\\russian!.lng", false},
      {VersionKind::kLng, "C:\\Games\\!Kestrane\\language\\russian.lng", false},
      {VersionKind::kLng, "!", false},
      {VersionKind::kCok, "C:\\Games\\!Kestrane\\kvx.cok", true},
      {VersionKind::kPak, "C:\\Games\\Kestrane\\a!.pak", true},
      {VersionKind::k3bs, "C:\\a!\\b.3bs", true},
      {VersionKind::kExecutable, "C:\\a!\\b.exe", true},
      {VersionKind::kNone, "C:\\Games\\Kestrane\\data.dat", false},
      {VersionKind::kNone, "C:\\Games\\!\\data.dat", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComparesVersions(c.kind, Widen(c.target)), c.compared) << c.target;
  }
}

FileVersion Number(int32_t number) { return {number, ""}; }
FileVersion Text(const char* text) { return {0, text}; }

TEST(OlderVersionDecision, NumericKindsAskOnlyWhenTheExistingNumberIsGreater) {
  const struct {
    const char* name;
    VersionKind kind;
    int32_t new_number;
    int32_t existing_number;
    bool older;
  } cases[] = {
      {"cok equal", VersionKind::kCok, 367, 367, false},
      {"cok older", VersionKind::kCok, 367, 368, true},
      {"cok newer", VersionKind::kCok, 368, 367, false},
      {"cok existing unreadable", VersionKind::kCok, 367, 0, false},
      {"cok new unreadable counts as 0", VersionKind::kCok, 0, 367, true},
      {"pak equal", VersionKind::kPak, 51969, 51969, false},
      {"pak older", VersionKind::kPak, 1, 65535, true},
      {"pak newer", VersionKind::kPak, 65535, 1, false},
      {"3bs older", VersionKind::k3bs, 254, 255, true},
      {"3bs equal", VersionKind::k3bs, 7, 7, false},
      {"lng older", VersionKind::kLng, 11, 12, true},
      {"lng newer", VersionKind::kLng, 13, 12, false},
      {"lng signed: -1 above -2", VersionKind::kLng, -2, -1, true},
      {"lng signed: 0 above negative", VersionKind::kLng, -5, 0, true},
      {"lng existing unreadable", VersionKind::kLng, 12, 0, false},
      {"other kinds never", VersionKind::kNone, 1, 2, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsOlderFile(c.kind, Number(c.new_number), Number(c.existing_number)), c.older)
        << c.name;
  }
}

TEST(OlderVersionDecision, ExecutablesAskOnlyForADifferentNewerExistingText) {
  const struct {
    const char* name;
    const char* new_text;
    const char* existing_text;
    bool older;
  } cases[] = {
      {"older", "1.0.3.12", "2.5.0.17", true},
      {"newer", "2.5.0.17", "1.0.3.12", false},
      {"equal texts", "1.0.3.12", "1.0.3.12", false},
      {"numbers, not text", "1.0.3.9", "1.0.3.10", true},
      // Compared alone, a new text that is no integer would be older than anything.
      {"existing without a version text", "x.1", "", false},
      {"existing without a version text, new empty", "", "", false},
      {"new without a version text", "", "1.0", true},
      {"new text no integer", "x.1", "1.0", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsOlderFile(VersionKind::kExecutable, Text(c.new_text), Text(c.existing_text)),
              c.older)
        << c.name;
  }
}

TEST(OlderVersionDecision, ExecutablesCompareTextsNotNumbers) {
  // The numbers of an executable's version are not read; only the texts count.
  EXPECT_FALSE(IsOlderFile(VersionKind::kExecutable, {1, "2.0"}, {2, "1.0"}));
  EXPECT_TRUE(IsOlderFile(VersionKind::kExecutable, {2, "1.0"}, {1, "2.0"}));
  // And the numeric kinds look at the numbers only.
  EXPECT_FALSE(IsOlderFile(VersionKind::kCok, {2, "1.0"}, {1, "2.0"}));
}

TEST(OlderVersionQuestion, VersionsAreNamedAsTextOrDecimalNumber) {
  const struct {
    VersionKind kind;
    FileVersion version;
    const char* named;
  } cases[] = {
      {VersionKind::kCok, {368, "ignored"}, "368"},
      {VersionKind::kPak, {0, ""}, "0"},
      {VersionKind::kPak, {65535, ""}, "65535"},
      {VersionKind::k3bs, {255, ""}, "255"},
      {VersionKind::kLng, {-12, ""}, "-12"},
      {VersionKind::kLng, {-2147483647 - 1, ""}, "-2147483648"},
      {VersionKind::kExecutable, {7, "1.0.3.12"}, "1.0.3.12"},
      {VersionKind::kExecutable, {7, ""}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VersionForQuestion(c.kind, c.version), c.named) << c.named;
  }
}

TEST(OlderVersionQuestion, BuiltInRussianTextNamesTargetAndBothVersions) {
  const OlderQuestion question = BuiltInOlderQuestion(true, Widen(kTarget), "368", "367");
  EXPECT_EQ(question.caption.Bytes(), kRussianCaption);
  EXPECT_EQ(question.text.Bytes(), kRussianInstalling + kTarget + "\r\n" + kRussianOlder +
                                       "\r\n\r\n" + kRussianReally + "\r\n" + kRussianFileVersion +
                                       "368" + kRussianWithOlder + "367?");
}

TEST(OlderVersionQuestion, BuiltInEnglishTextNamesTargetAndBothVersions) {
  const OlderQuestion question =
      BuiltInOlderQuestion(false, Widen(kTarget), "2.5.0.17", "1.0.3.12");
  EXPECT_EQ(question.caption.Bytes(), "Sound question");
  EXPECT_EQ(question.text.Bytes(),
            std::string(kTarget) +
                " file installing is of older version\r\n"
                "than the same already installed.\r\n\r\n"
                "Do you really want to replace existing\r\n"
                "new file version 2.5.0.17 with an older file version 1.0.3.12?");
}

// A chosen language whose file lies in a fresh folder; nothing chosen after TearDown.
class OlderVersionAsking : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "older_version_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
    g_reportCapture.Clear();
    g_startupSettings.RussianUI = false;
    NoLanguage();
  }
  void TearDown() override {
    NoLanguage();
    if (!chosen_.empty()) std::remove(chosen_.c_str());
    rmdir(dir_.c_str());
  }

  static void NoLanguage() {
    LanguageSupport& state = g_languageSupport;
    state.OpenLanguageFile.Close();
    state.FolderLanguageFile.Close();
    state.LanguageFiles.clear();
    state.RussianLanguageIndex = state.EnglishLanguageIndex = state.CurrentLanguageIndex = -1;
    state.CurrentLanguageId = -1;
    state.OpenLanguageFileName.clear();
    state.KeepFolderFileOpen = true;
  }

  // Chooses the language whose file holds bytes (no file at all when bytes is null).
  void ChooseLanguage(int32_t language_id, const char* bytes) {
    chosen_ = dir_ + "chosen.lng";
    if (bytes != nullptr) {
      std::FILE* file = std::fopen(chosen_.c_str(), "wb");
      ASSERT_NE(file, nullptr);
      ASSERT_GE(std::fputs(bytes, file), 0);
      ASSERT_EQ(std::fclose(file), 0);
    }
    LanguageSupport& state = g_languageSupport;
    state.LanguageFiles = {"chosen.lng"};
    state.RussianLanguageIndex = state.EnglishLanguageIndex = state.CurrentLanguageIndex = 0;
    state.CurrentLanguageId = language_id;
    state.OpenLanguageFileName = chosen_;
  }

  // The one question asked, after checking that exactly one message came and it was a question.
  CapturedMessage OnlyQuestion() {
    EXPECT_EQ(g_reportCapture.messages.size(), 1u);
    if (g_reportCapture.messages.empty()) return {};
    EXPECT_EQ(g_reportCapture.messages[0].kind, CapturedMessage::kQuestion);
    return g_reportCapture.messages[0];
  }

  std::string dir_;
  std::string chosen_;
};

TEST_F(OlderVersionAsking, WithoutAChosenLanguageTheBuiltInQuestionOfTheInterfaceLanguage) {
  for (bool russian : {false, true}) {
    g_reportCapture.Clear();
    g_startupSettings.RussianUI = russian;
    AskToReplaceWithOlder(Widen(kTarget), "368", "367");
    const OlderQuestion expected = BuiltInOlderQuestion(russian, Widen(kTarget), "368", "367");
    const CapturedMessage asked = OnlyQuestion();
    EXPECT_EQ(asked.second, expected.caption) << russian;
    EXPECT_EQ(asked.first, expected.text) << russian;
    // Russian through MessageBoxExA with language 0x19, English through MessageBoxA.
    EXPECT_EQ(asked.language_id, russian ? 0x19 : 0) << russian;
  }
}

TEST_F(OlderVersionAsking, OnlyTheAnswerYesCounts) {
  for (bool answer : {true, false}) {
    g_reportCapture.Clear();
    g_reportCapture.answers.push_back(answer);
    EXPECT_EQ(AskToReplaceWithOlder(Widen(kTarget), "2", "1"), answer);
  }
  g_reportCapture.Clear();
  EXPECT_FALSE(AskToReplaceWithOlder(Widen(kTarget), "2", "1")) << "a box closed without an answer";
}

TEST_F(OlderVersionAsking, ChosenLanguageGivesCaptionAndTextFromItsFile) {
  const struct {
    const char* name;
    int32_t language_id;
    const char* file;
    const char* caption;
    std::string text;
  } cases[] = {
      {"one-line text", 0x0407,
       "[langver]\r\n3\r\n[soundquest]\r\nKlangfrage\r\n[olderfilever]\r\nAlt: %1?\r\n",
       "Klangfrage", std::string("Alt: ") + kTarget + "?"},
      {"block text, upper-case headers, high bits of the id dropped", 0x7FFF0419,
       "[SOUNDQUEST]\r\nQ\r\n\r\n[OlderFileVer]\r\n%1\r\nis older.\r\nReplace?\r\n\r\nrest\r\n",
       "Q", std::string(kTarget) + "\r\nis older.\r\nReplace?"},
      {"later placeholders get empty texts", 0x0409,
       "[soundquest]\r\nSound\r\n[olderfilever]\r\n%1 [%2] [%3] [%4]\r\n", "Sound",
       std::string(kTarget) + " [] [] []"},
      {"versions are not offered to the text", 0x0409,
       "[soundquest]\r\nSound\r\n[olderfilever]\r\nno placeholder 368 %2\r\n", "Sound",
       "no placeholder 368 %2"},
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    ChooseLanguage(c.language_id, c.file);
    g_reportCapture.answers.push_back(true);
    EXPECT_TRUE(AskToReplaceWithOlder(Widen(kTarget), "368", "367")) << c.name;
    const CapturedMessage asked = OnlyQuestion();
    EXPECT_EQ(asked.russian_or_caption, c.caption) << c.name;
    EXPECT_EQ(asked.english_or_text, c.text) << c.name;
    EXPECT_EQ(asked.language_id, c.language_id & 0xFFFF) << c.name;
  }
}

// The target path came from Windows' wide functions and is shown in every character it has,
// the rest from the code page of its own text, whichever variant asks.
TEST_F(OlderVersionAsking, TargetPathKeepsItsOwnSourceInEveryVariant) {
  const MessageText path = MessageText::Wide(Widen(kTarget));
  for (bool russian : {false, true}) {
    const OlderQuestion question = BuiltInOlderQuestion(russian, Widen(kTarget), "368", "367");
    ASSERT_EQ(question.text.pieces().size(), russian ? 3u : 2u) << russian;
    const size_t at = russian ? kRussianInstalling.size() : 0;
    EXPECT_EQ(question.text.Slice(at, at + path.size()), path) << russian;
    EXPECT_EQ(question.caption.pieces()[0].source, TextSource::kProgram) << russian;
  }
  ChooseLanguage(0x0419, "[soundquest]\r\nQ\r\n[olderfilever]\r\n<%1>\r\n");
  AskToReplaceWithOlder(Widen(kTarget), "368", "367");
  const CapturedMessage asked = OnlyQuestion();
  EXPECT_EQ(asked.second, MessageText::Language("Q", 0x0419));
  EXPECT_EQ(asked.first,
            MessageText::Language("<", 0x0419) + path + MessageText::Language(">", 0x0419));
}

TEST_F(OlderVersionAsking, ChosenLanguageIsUsedWhateverTheInterfaceLanguage) {
  g_startupSettings.RussianUI = true;
  ChooseLanguage(0x0409, "[soundquest]\r\nSound\r\n[olderfilever]\r\nOlder %1\r\n");
  AskToReplaceWithOlder(Widen(kTarget), "368", "367");
  const CapturedMessage asked = OnlyQuestion();
  EXPECT_EQ(asked.russian_or_caption, "Sound");
  EXPECT_EQ(asked.language_id, 0x0409);
}

TEST_F(OlderVersionAsking, UnreadableLanguageFileIsReportedAndTheQuestionStillAsked) {
  ChooseLanguage(0x0409, nullptr);
  g_reportCapture.answers.push_back(true);
  EXPECT_TRUE(AskToReplaceWithOlder(Widen(kTarget), "368", "367"));
  ASSERT_FALSE(g_reportCapture.messages.empty());
  const CapturedMessage& last = g_reportCapture.messages.back();
  EXPECT_EQ(last.kind, CapturedMessage::kQuestion);
  EXPECT_EQ(last.russian_or_caption, "");
  EXPECT_EQ(last.english_or_text.find_first_not_of("\r\n"), std::string::npos)
      << "an empty or blank text after the reports";
  EXPECT_EQ(g_reportCapture.messages[0].kind, CapturedMessage::kError);
  EXPECT_EQ(g_reportCapture.messages[0].english_or_text,
            "Can't handle the language support file chosen.lng");
}

TEST(OlderVersionQuestion, ATargetInAFolderOfAnyScriptIsNamedInFull) {
  for (const std::u16string& target :
       {std::u16string(u"C:\\Игры\\Kestrane\\kvx.cok"), std::u16string(u"C:\\Παιχνίδια\\kvx.cok"),
        std::u16string(u"D:\\游戏\\kvx.cok")}) {
    for (bool russian : {false, true}) {
      const OlderQuestion question = BuiltInOlderQuestion(russian, target, "368", "367");
      const std::string utf8 = Utf8FromUtf16(target);
      const size_t at = russian ? kRussianInstalling.size() : 0;
      EXPECT_EQ(question.text.Slice(at, at + utf8.size()), MessageText::Utf8(utf8)) << utf8;
    }
  }
}

TEST(OlderVersionRules, OnlyTheAsciiExclamationMarkExemptsALanguageFile) {
  EXPECT_FALSE(ComparesVersions(VersionKind::kLng, u"C:\\Игры!\\language\\russian.lng"));
  EXPECT_TRUE(ComparesVersions(VersionKind::kLng, u"C:\\Игры\\language\\russian\uFF01.lng"));
  EXPECT_TRUE(ComparesVersions(VersionKind::kLng, u"C:\\Игры\\language\\русский.lng"));
}

}  // namespace
}  // namespace kestrane
