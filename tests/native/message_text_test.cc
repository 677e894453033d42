#include "startup/message_text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "language/placeholders.h"

namespace kestrane {
namespace {

// glibc's own table for code page 1251, as UTF-16LE code units; empty when it refuses the
// byte.
std::u16string IconvCp1251(unsigned char byte) {
  iconv_t converter = iconv_open("UTF-16LE", "CP1251");
  if (converter == reinterpret_cast<iconv_t>(-1)) return u"<no iconv>";
  char in[1] = {static_cast<char>(byte)};
  char out[8] = {};
  char* in_next = in;
  char* out_next = out;
  size_t in_left = 1, out_left = sizeof out;
  const size_t done = iconv(converter, &in_next, &in_left, &out_next, &out_left);
  iconv_close(converter);
  if (done == static_cast<size_t>(-1)) return u"";
  std::u16string text;
  for (char* p = out; p + 1 < out_next; p += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                  (static_cast<unsigned char>(p[1]) << 8));
  }
  return text;
}

TEST(DecodeCp1251, EveryByteAsGlibcDecodesIt) {
  int compared = 0;
  for (int byte = 0; byte < 256; ++byte) {
    const std::u16string expected = IconvCp1251(static_cast<unsigned char>(byte));
    ASSERT_NE(expected, u"<no iconv>");
    const std::u16string decoded = DecodeCp1251(std::string(1, static_cast<char>(byte)));
    if (expected.empty()) {
      // The one byte glibc leaves unassigned; Windows' table passes it through.
      EXPECT_EQ(byte, 0x98);
      EXPECT_EQ(decoded, u"\u0098");
      continue;
    }
    EXPECT_EQ(decoded, expected) << "byte " << byte;
    ++compared;
  }
  EXPECT_EQ(compared, 255);
}

TEST(DecodeCp1251, ProgramTextReadsAsWritten) {
  // The sources are UTF-8 and compiled to code page 1251; decoding gives the source's text.
  EXPECT_EQ(DecodeCp1251("Резонный вопрос"), u"Резонный вопрос");
  EXPECT_EQ(DecodeCp1251("Не удаётся: «Ёжик» — №1"), u"Не удаётся: «Ёжик» — №1");
  EXPECT_EQ(DecodeCp1251(""), u"");
}

TEST(MessageText, PiecesKeepTheirSourcesAndNeighboursOfOneSourceJoin) {
  const MessageText text = MessageText("Can't install file ") + MessageText::System("C:\\") +
                           MessageText::System("a.cok") + "" + MessageText::Program("!") +
                           MessageText::Language("x", 0x419) + MessageText::Language("y", 0x409);
  ASSERT_EQ(text.pieces().size(), 5u);
  EXPECT_EQ(text.pieces()[1].source, TextSource::kSystem);
  EXPECT_EQ(text.pieces()[1].bytes, "C:\\a.cok");
  EXPECT_EQ(text.pieces()[3].language_id, 0x419);
  EXPECT_EQ(text.Bytes(), "Can't install file C:\\a.cok!xy");
  EXPECT_EQ(text.size(), text.Bytes().size());
  MessageText twice = text;
  twice += twice;
  EXPECT_EQ(twice.Bytes(), text.Bytes() + text.Bytes());
}

TEST(MessageText, FindAndSliceWorkAcrossPieces) {
  const MessageText text = MessageText("ab%") + MessageText::System("1cd");
  EXPECT_EQ(text.Find("%1"), 2u);
  EXPECT_EQ(text.Find("%1", 3), std::string::npos);
  EXPECT_EQ(text.Slice(1, 4), MessageText("b%") + MessageText::System("1"));
  EXPECT_EQ(text.Slice(4, 99), MessageText::System("cd"));
  EXPECT_EQ(text.Slice(3, 3), MessageText());
}

// The sourced filling gives the same bytes as the text filling, with each byte's source.
TEST(MessageText, PlaceholdersFillAsInTextWithTheValuesSources) {
  const struct {
    const char* text;
    std::vector<std::string> values;
  } cases[] = {
      {"Replace %1?", {"C:\\Games\\a.lng"}},
      {"%1 and %1", {"v"}},
      {"only %2", {"v", "w"}},
      {"%10", {"v"}},
      {"%1 %3", {"v", "w", "x"}},
      {"%1 %2", {"%2", "w"}},  // a value holding the next placeholder counts as it
      {"%%1", {"2x", "y"}},    // and one that completes a placeholder with the text's "%"
      {"", {"v"}},
  };
  for (const auto& c : cases) {
    std::vector<MessageText> values;
    for (const std::string& v : c.values) values.push_back(MessageText::System(v));
    const MessageText filled = FillPlaceholders(MessageText::Language(c.text, 0x419), values);
    EXPECT_EQ(filled.Bytes(), FillPlaceholders(c.text, c.values)) << c.text;
  }
  const MessageText filled =
      FillPlaceholders(MessageText::Language("<%1>", 0x419), {MessageText::System("p")});
  EXPECT_EQ(filled, MessageText::Language("<", 0x419) + MessageText::System("p") +
                        MessageText::Language(">", 0x419));
}

}  // namespace
}  // namespace kestrane
