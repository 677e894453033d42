// Comparison of dotted version texts such as "1.0.3.12", as the version-guarded payload
// writer uses it to decide whether a file would replace a newer one.
#pragma once

#include <string>

namespace kestrane {

// Returns true when the version text first is older than the version text second. The
// texts are compared component by component as integers (TextToInteger) over three passes
// that each take the part before the next "."; a side without a further "." keeps its
// number from the pass before, and what remains of both texts after three equal passes is
// compared as a whole. A component that is no integer decides at once: on the second side
// it means not older (false), on the first side older (true); the second side is read first.
bool IsVersionOlder(const std::string& first, const std::string& second);

}  // namespace kestrane
