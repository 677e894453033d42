#include "language/placeholders.h"

namespace kestrane {
namespace {

constexpr int kPlaceholderCount = 4;

// Replaces every occurrence of from in text by to, scanning only the original text: what a
// replacement inserts is never looked at again by this call.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  std::string result;
  size_t start = 0;
  for (;;) {
    size_t found = text.find(from, start);
    if (found == std::string::npos) break;
    result.append(text, start, found - start);
    result += to;
    start = found + from.size();
  }
  result.append(text, start, std::string::npos);
  return result;
}

}  // namespace

std::string FillPlaceholders(std::string text, const std::vector<std::string>& values) {
  static const std::string kNoValue;
  for (int k = 1; k <= kPlaceholderCount; ++k) {
    const std::string placeholder = "%" + std::to_string(k);
    if (text.find(placeholder) == std::string::npos) break;
    const size_t index = static_cast<size_t>(k - 1);
    text = ReplaceAll(text, placeholder, index < values.size() ? values[index] : kNoValue);
  }
  return text;
}

}  // namespace kestrane
