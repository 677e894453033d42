#include "startup/message_text.h"

#include <algorithm>
#include <utility>

namespace kestrane {
namespace {

// Code page 1251 from 0x80 to 0xBF; 0xC0 to 0xFF are the Cyrillic letters U+0410 to U+044F in
// order, and below 0x80 it is ASCII.
constexpr char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

bool SameSource(const TextPiece& a, const TextPiece& b) {
  return a.source == b.source && a.language_id == b.language_id;
}

}  // namespace

MessageText::MessageText(const char* program_literal) {
  if (program_literal != nullptr) Append({TextSource::kProgram, 0, program_literal});
}

MessageText MessageText::Program(std::string bytes) {
  MessageText text;
  text.Append({TextSource::kProgram, 0, std::move(bytes)});
  return text;
}

MessageText MessageText::System(std::string bytes) {
  MessageText text;
  text.Append({TextSource::kSystem, 0, std::move(bytes)});
  return text;
}

MessageText MessageText::Language(std::string bytes, uint16_t language_id) {
  MessageText text;
  text.Append({TextSource::kLanguage, language_id, std::move(bytes)});
  return text;
}

MessageText MessageText::Utf8(std::string bytes) {
  MessageText text;
  text.Append({TextSource::kUtf8, 0, std::move(bytes)});
  return text;
}

MessageText MessageText::Wide(const std::u16string& text) { return Utf8(Utf8FromUtf16(text)); }

void MessageText::Append(const TextPiece& piece) {
  if (piece.bytes.empty()) return;
  if (!pieces_.empty() && SameSource(pieces_.back(), piece)) {
    pieces_.back().bytes += piece.bytes;
  } else {
    pieces_.push_back(piece);
  }
}

MessageText& MessageText::operator+=(const MessageText& more) {
  // A copy first: more may be this text itself.
  const std::vector<TextPiece> added = more.pieces_;
  for (const TextPiece& piece : added) Append(piece);
  return *this;
}

std::string MessageText::Bytes() const {
  std::string bytes;
  for (const TextPiece& piece : pieces_) bytes += piece.bytes;
  return bytes;
}

size_t MessageText::size() const {
  size_t total = 0;
  for (const TextPiece& piece : pieces_) total += piece.bytes.size();
  return total;
}

size_t MessageText::Find(const std::string& needle, size_t from) const {
  return Bytes().find(needle, from);
}

MessageText MessageText::Slice(size_t begin, size_t end) const {
  MessageText slice;
  size_t offset = 0;
  for (const TextPiece& piece : pieces_) {
    const size_t piece_end = offset + piece.bytes.size();
    const size_t from = std::max(begin, offset);
    const size_t to = std::min(end, piece_end);
    if (from < to) {
      slice.Append({piece.source, piece.language_id, piece.bytes.substr(from - offset, to - from)});
    }
    offset = piece_end;
    if (offset >= end) break;
  }
  return slice;
}

bool MessageText::operator==(const MessageText& other) const {
  if (pieces_.size() != other.pieces_.size()) return false;
  for (size_t i = 0; i < pieces_.size(); ++i) {
    if (!SameSource(pieces_[i], other.pieces_[i]) || pieces_[i].bytes != other.pieces_[i].bytes) {
      return false;
    }
  }
  return true;
}

MessageText operator+(MessageText left, const MessageText& right) {
  left += right;
  return left;
}

std::u16string DecodeCp1251(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += static_cast<char16_t>(byte);
    } else if (byte < 0xC0) {
      text += kCp1251High[byte - 0x80];
    } else {
      text += static_cast<char16_t>(0x0410 + (byte - 0xC0));
    }
  }
  return text;
}

namespace {

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void AppendUtf16(char32_t code, std::u16string& out) {
  if (code < 0x10000) {
    out += static_cast<char16_t>(code);
  } else {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::string Utf8FromUtf16(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(kReplacement, out);
    } else {
      AppendUtf8(unit, out);
    }
  }
  return out;
}

std::u16string Utf16FromUtf8(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    size_t length = 0;  // 0: a byte no sequence starts with
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      length = 2;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
    }
    if (length == 0 || i + length > bytes.size()) {
      AppendUtf16(kReplacement, out);
      ++i;
      continue;
    }
    char32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    bool valid = true;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF name no character.
    const char32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      AppendUtf16(kReplacement, out);
      ++i;
      continue;
    }
    AppendUtf16(code, out);
    i += length;
  }
  return out;
}

}  // namespace kestrane
