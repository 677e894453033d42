#include "update/host_start.h"

namespace kestrane {

TokenKind TokenKindOf(bool queried, uint32_t elevation_type) {
  if (!queried) return TokenKind::kUnknown;
  switch (elevation_type) {
    case 1:
      return TokenKind::kDefault;
    case 2:
      return TokenKind::kFull;
    case 3:
      return TokenKind::kLimited;
    default:
      return TokenKind::kUnknown;
  }
}

HostStartWay StartHostFor(TokenKind token, const std::function<bool()>& start_by_shell,
                          const std::function<void()>& start_directly) {
  if (token == TokenKind::kFull) {
    return start_by_shell() ? HostStartWay::kByShell : HostStartWay::kNotStarted;
  }
  start_directly();
  return HostStartWay::kDirect;
}

}  // namespace kestrane
