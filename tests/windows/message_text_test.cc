#include "startup/message_text_win.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrane {
namespace {

std::wstring Decoded(UINT code_page, const std::string& bytes) {
  wchar_t wide[64] = L"";
  const int length =
      MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), wide, 64);
  return std::wstring(wide, length > 0 ? length : 0);
}

// The portable table against the system's own for code page 1251, byte for byte.
TEST(MessageTextWin, ProgramTextDecodesAsWindowsDecodesCodePage1251) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    EXPECT_EQ(WideText(MessageText::Program(one)), Decoded(1251, one)) << "byte " << byte;
  }
}

TEST(MessageTextWin, EveryPieceIsDecodedFromItsOwnCodePage) {
  // "Ё" in 1251 is 0xA8, which the ANSI code page of an English system reads as a diaeresis.
  const std::string bytes = "\xA8\xE9";
  const MessageText text = MessageText::Program(bytes) + MessageText::System(bytes) +
                           MessageText::Language(bytes, 0x0407) + MessageText::Utf8("\xD0\x81");
  EXPECT_EQ(WideText(text), L"\u0401\u0439" + Decoded(CP_ACP, bytes) + L"\u00A8\u00E9\u0401");
}

TEST(MessageTextWin, LanguagesHaveTheirAnsiCodePages) {
  const struct {
    uint16_t language_id;
    UINT code_page;
  } cases[] = {{0x0019, 1251}, {0x0419, 1251}, {0x0422, 1251}, {0x0409, 1252},
               {0x0407, 1252}, {0x0415, 1250}, {0x0408, 1253}};
  for (const auto& c : cases) {
    EXPECT_EQ(LanguageCodePage(c.language_id), c.code_page) << std::hex << c.language_id;
  }
}

TEST(MessageTextWin, WideTextSurvivesTheTripThroughUtf8) {
  const std::wstring name = L"\u041E\u0431\u043D\u043E\u0432\u043B\u0435\u043D\u0438\u0435.exe";
  EXPECT_EQ(WideText(MessageText::Utf8(Utf8FromWide(name))), name);
  EXPECT_EQ(Utf8FromWide(L""), "");
}

}  // namespace
}  // namespace kestrane
