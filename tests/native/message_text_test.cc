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

// Paths that Windows gave through its wide functions travel as UTF-8 pieces; the conversion
// must keep every character, and turn what is no character into U+FFFD instead of dropping it.
TEST(Utf16Conversion, EveryCharacterSurvivesTheWayThereAndBack) {
  const std::u16string texts[] = {
      u"C:\\Games\\Kestrane\\kvx.cok",
      u"C:\\Игры\\Kestrane\\",
      u"C:\\Παιχνίδια\\",
      u"D:\\游戏\\凯斯特兰\\",
      u"E:\\\U0001F3AE\\",
      u"\u00A0\u07FF\u0800\uFFFD\U0010FFFF",
      u"",
  };
  for (const std::u16string& text : texts) {
    EXPECT_EQ(Utf16FromUtf8(Utf8FromUtf16(text)), text) << Utf8FromUtf16(text);
  }
  EXPECT_EQ(Utf8FromUtf16(u"Игры"), u8"Игры");
  EXPECT_EQ(Utf8FromUtf16(u"\U0001F3AE"), "\xF0\x9F\x8E\xAE");
}

TEST(Utf16Conversion, WhatIsNoCharacterBecomesTheReplacementCharacter) {
  const struct {
    const char* name;
    std::u16string utf16;
    std::string utf8;
  } to_utf8[] = {
      {"a lone high surrogate", std::u16string(u"a") + char16_t(0xD800) + u"b",
       "a\xEF\xBF\xBD"
       "b"},
      {"a lone low surrogate at the end", std::u16string(u"a") + char16_t(0xDC00), "a\xEF\xBF\xBD"},
      {"two high surrogates", std::u16string{char16_t(0xD800), char16_t(0xD800)},
       "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : to_utf8) EXPECT_EQ(Utf8FromUtf16(c.utf16), c.utf8) << c.name;
  const struct {
    const char* name;
    std::string utf8;
    std::u16string utf16;
  } to_utf16[] = {
      {"a continuation byte alone", "a\x80z", u"a\uFFFDz"},
      {"an overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"an overlong three-byte form", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"an encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"a lead byte never used", "\xF5\x80", u"\uFFFD\uFFFD"},
      {"a sequence cut at the end", "ab\xD0", u"ab\uFFFD"},
  };
  for (const auto& c : to_utf16) EXPECT_EQ(Utf16FromUtf8(c.utf8), c.utf16) << c.name;
}

TEST(Utf16Conversion, AWidePathBecomesOneUtf8Piece) {
  const MessageText path = MessageText::Wide(u"C:\\Игры\\Kestrane\\kvx.cok");
  ASSERT_EQ(path.pieces().size(), 1u);
  EXPECT_EQ(path.pieces()[0].source, TextSource::kUtf8);
  EXPECT_EQ(path.pieces()[0].bytes, u8"C:\\Игры\\Kestrane\\kvx.cok");
}

}  // namespace
}  // namespace kestrane
