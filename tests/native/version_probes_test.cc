#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "payload/version_probes.h"
#include "startup/message_text.h"
#include "report_capture.h"

namespace kestrane {
namespace {

class LngVersionTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "lng_version_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
    path_ = dir_ + "~russian.lng";
    g_reportCapture.Clear();
  }
  void TearDown() override {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }
  void WriteLanguageFile(const std::string& bytes) {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
  }

  std::string dir_;
  std::string path_;
};

TEST_F(LngVersionTest, VersionIsTheLineAfterTheLangverHeader) {
  const struct {
    const char* name;
    std::string bytes;
    int32_t version;
  } cases[] = {
      {"mixed-case header", "[LangVer]\n12\n", 12},
      {"text after the header, spaces before the number", "[LANGVER] version\n  12\n", 12},
      {"CR LF line ends", "[langver]\r\n12\r\n", 12},
      {"no line end after the number", "[langver]\n12", 12},
      {"header after other sections", "[title]\nEnglish\n\n[langver]\n40\n", 40},
      {"first header wins", "[langver]\n3\n[langver]\n4\n", 3},
      {"hexadecimal", "[langver]\n$1F\n", 31},
      {"negative", "[langver]\n-5\n", -5},
  };
  for (const auto& c : cases) {
    g_reportCapture.Clear();
    WriteLanguageFile(c.bytes);
    EXPECT_EQ(ReadLngVersion(Utf16FromUtf8(path_)), c.version) << c.name;
    EXPECT_TRUE(g_reportCapture.messages.empty()) << c.name;
  }
}

TEST_F(LngVersionTest, UnreadableVersionIsReportedWithTheFullPathAndGivesZero) {
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"trailing space after the number", "[langver]\n12 \n"},
      {"header as the last line", "[langver]"},
      {"header as the last line, with a line end", "[langver]\n"},
      {"blank before the bracket: no header", " [langver]\n12\n"},
      {"no header at all, last line a number", "[title]\n12\n"},
      {"empty file", ""},
      {"empty version line", "[langver]\n\n12\n"},
      {"version too large", "[langver]\n2147483648\n"},
      {"binary bytes", std::string("\0\xFF[langver\0]\n1", 15)},
  };
  for (const auto& c : cases) {
    g_reportCapture.Clear();
    WriteLanguageFile(c.bytes);
    EXPECT_EQ(ReadLngVersion(Utf16FromUtf8(path_)), 0) << c.name;
    ASSERT_EQ(g_reportCapture.messages.size(), 1u) << c.name;
    EXPECT_EQ(g_reportCapture.messages[0].english_or_text,
              "Can't handle the language support file " + path_)
        << c.name;
    // "Не удаётся работать с файлом языковой поддержки " in code page 1251.
    EXPECT_EQ(g_reportCapture.messages[0].russian_or_caption,
              "\xCD\xE5 \xF3\xE4\xE0\xB8\xF2\xF1\xFF \xF0\xE0\xE1\xEE\xF2\xE0\xF2\xFC \xF1 "
              "\xF4\xE0\xE9\xEB\xEE\xEC \xFF\xE7\xFB\xEA\xEE\xE2\xEE\xE9 "
              "\xEF\xEE\xE4\xE4\xE5\xF0\xE6\xEA\xE8 " +
                  path_)
        << c.name;
  }
}

TEST_F(LngVersionTest, MissingFileGivesZeroSilently) {
  EXPECT_EQ(ReadLngVersion(Utf16FromUtf8(dir_ + "absent.lng")), 0);
  EXPECT_EQ(ReadLngVersion(Utf16FromUtf8(dir_ + "absent/deeper.lng")), 0);
  EXPECT_EQ(ReadLngVersion(Utf16FromUtf8("")), 0);
  EXPECT_EQ(ReadLngVersion(Utf16FromUtf8(dir_)), 0);  // a folder is no file
  EXPECT_TRUE(g_reportCapture.messages.empty());
}

TEST(FileVersionQuery, NamesTheTranslationInUpperCaseHexadecimal) {
  const struct {
    uint16_t language, code_page;
    const char* query;
  } cases[] = {
      {0x0419, 1251, "\\StringFileInfo\\041904E3\\FileVersion"},
      {0x0409, 0x04B0, "\\StringFileInfo\\040904B0\\FileVersion"},
      {0x0007, 0x0000, "\\StringFileInfo\\00070000\\FileVersion"},
      {0xABCD, 0xFFFF, "\\StringFileInfo\\ABCDFFFF\\FileVersion"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileVersionQuery(c.language, c.code_page), c.query);
}

}  // namespace
}  // namespace kestrane
