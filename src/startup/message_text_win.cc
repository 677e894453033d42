#include "startup/message_text_win.h"

#include <climits>

namespace kestrane {
namespace {

// Returns the bytes decoded by MultiByteToWideChar from code_page, or from the ANSI code page
// when Windows refuses that one.
std::wstring DecodeFrom(UINT code_page, const std::string& bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(bytes.size());
  int wide_length = MultiByteToWideChar(code_page, 0, bytes.data(), length, nullptr, 0);
  if (wide_length <= 0 && code_page != CP_ACP) return DecodeFrom(CP_ACP, bytes);
  if (wide_length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  wide_length = MultiByteToWideChar(code_page, 0, bytes.data(), length, &wide[0], wide_length);
  wide.resize(wide_length > 0 ? static_cast<size_t>(wide_length) : 0);
  return wide;
}

}  // namespace

UINT LanguageCodePage(uint16_t language_id) {
  // A language without a country (0x19) stands for its main one (0x419).
  LANGID language = language_id;
  if (SUBLANGID(language) == SUBLANG_NEUTRAL) {
    language = MAKELANGID(PRIMARYLANGID(language), SUBLANG_DEFAULT);
  }
  DWORD code_page = 0;
  const int got = GetLocaleInfoW(
      MAKELCID(language, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
      reinterpret_cast<LPWSTR>(&code_page), sizeof code_page / sizeof(wchar_t));
  // 0 means a language written only in Unicode.
  return got > 0 && code_page != 0 ? code_page : CP_ACP;
}

std::wstring WideText(const MessageText& text) {
  std::wstring wide;
  for (const TextPiece& piece : text.pieces()) {
    switch (piece.source) {
      case TextSource::kProgram: {
        const std::u16string decoded = DecodeCp1251(piece.bytes);
        wide.append(decoded.begin(), decoded.end());
        break;
      }
      case TextSource::kSystem:
        wide += DecodeFrom(CP_ACP, piece.bytes);
        break;
      case TextSource::kLanguage:
        wide += DecodeFrom(LanguageCodePage(piece.language_id), piece.bytes);
        break;
      case TextSource::kUtf8:
        wide += DecodeFrom(CP_UTF8, piece.bytes);
        break;
    }
  }
  return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
  if (wide.empty() || wide.size() > INT_MAX / 4) return std::string();
  const int length = static_cast<int>(wide.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string utf8(static_cast<size_t>(size), '\0');
  size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &utf8[0], size, nullptr, nullptr);
  utf8.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return utf8;
}

}  // namespace kestrane
