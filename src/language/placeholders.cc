#include "language/placeholders.h"

#include <utility>

namespace kestrane {
namespace {

constexpr int kPlaceholderCount = 4;

size_t FindIn(const std::string& text, const std::string& needle, size_t from) {
  return text.find(needle, from);
}
size_t FindIn(const MessageText& text, const std::string& needle, size_t from) {
  return text.Find(needle, from);
}
std::string Slice(const std::string& text, size_t begin, size_t end) {
  return text.substr(begin, end - begin);
}
MessageText Slice(const MessageText& text, size_t begin, size_t end) {
  return text.Slice(begin, end);
}

// Replaces every occurrence of from in text by to, scanning only the original text: what a
// replacement inserts is never looked at again by this call.
template <typename Text>
Text ReplaceAll(const Text& text, const std::string& from, const Text& to) {
  Text result;
  size_t start = 0;
  for (;;) {
    size_t found = FindIn(text, from, start);
    if (found == std::string::npos) break;
    result += Slice(text, start, found);
    result += to;
    start = found + from.size();
  }
  result += Slice(text, start, text.size());
  return result;
}

template <typename Text>
Text Fill(Text text, const std::vector<Text>& values) {
  static const Text kNoValue;
  for (int k = 1; k <= kPlaceholderCount; ++k) {
    const std::string placeholder = "%" + std::to_string(k);
    if (FindIn(text, placeholder, 0) == std::string::npos) break;
    const size_t index = static_cast<size_t>(k - 1);
    text = ReplaceAll(text, placeholder, index < values.size() ? values[index] : kNoValue);
  }
  return text;
}

}  // namespace

std::string FillPlaceholders(std::string text, const std::vector<std::string>& values) {
  return Fill(std::move(text), values);
}

MessageText FillPlaceholders(MessageText text, const std::vector<MessageText>& values) {
  return Fill(std::move(text), values);
}

}  // namespace kestrane
