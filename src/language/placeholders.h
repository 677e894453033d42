// Filling the placeholders %1 to %4 of a language text.
#pragma once

#include <string>
#include <vector>

#include "startup/message_text.h"

namespace kestrane {

// Replaces the placeholders "%1" to "%4" in this order: while the text (as the earlier
// replacements left it) contains the next placeholder, every occurrence of it becomes the
// corresponding value (the empty text when the caller gave fewer values); at the first
// placeholder that is missing the filling stops. So %2 is filled only when %1 was present,
// and "%10" becomes the first value followed by "0".
std::string FillPlaceholders(std::string text, const std::vector<std::string>& values);

// The same on a message whose values keep their own sources: the result has exactly the bytes
// the text version gives, each with the source of the text or value it came from.
MessageText FillPlaceholders(MessageText text, const std::vector<MessageText>& values);

}  // namespace kestrane
