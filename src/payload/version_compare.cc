#include "payload/version_compare.h"

#include <cstdint>
#include <string_view>

#include "payload/integer_text.h"

namespace kestrane {
namespace {

enum class Component { kTaken, kNone, kNotInteger };

// Takes the component in front of the first "." of *rest into *number and drops it with its
// ".". A text without a "." or with one right at its start has no component to take and stays
// as it is, and so does *number.
Component TakeComponent(std::string_view* rest, int32_t* number) {
  size_t dot = rest->find('.');
  if (dot == std::string_view::npos || dot == 0) return Component::kNone;
  if (!TextToInteger(rest->substr(0, dot), number)) return Component::kNotInteger;
  rest->remove_prefix(dot + 1);
  return Component::kTaken;
}

constexpr int kComponentPasses = 3;

}  // namespace

bool IsVersionOlder(const std::string& first, const std::string& second) {
  std::string_view first_rest = first;
  std::string_view second_rest = second;
  int32_t first_number = 0;
  int32_t second_number = 0;

  for (int pass = 0; pass < kComponentPasses; ++pass) {
    // The numbers were equal so far, so an unreadable second component means "not older".
    if (TakeComponent(&second_rest, &second_number) == Component::kNotInteger) return false;
    if (TakeComponent(&first_rest, &first_number) == Component::kNotInteger) return true;
    if (first_number != second_number) return second_number > first_number;
  }

  int32_t second_value = 0;
  int32_t first_value = 0;
  if (!TextToInteger(second_rest, &second_value)) return false;
  if (!TextToInteger(first_rest, &first_value)) return true;
  return second_value > first_value;
}

}  // namespace kestrane
