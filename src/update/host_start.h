// Whose rights the host application starts with after the update. An installer that UAC
// elevated must not hand its administrator rights, and the environment that the user's
// programs set, to the host: the user's own desktop shell starts it instead, as the user.
#pragma once

#include <cstdint>
#include <functional>

namespace kestrane {

// The kind of the installer's access token, from its TokenElevationType.
enum class TokenKind {
  kDefault,  // no linked token: UAC is off, or the account is SYSTEM or has no split token
  kFull,     // UAC elevated this process; the user's unelevated token is linked to it
  kLimited,  // the unelevated half of a split token
  kUnknown,  // the system cannot tell: it has no UAC (before Vista) or refused the query
};

// Returns the kind named by a TokenElevationType value (1 default, 2 full, 3 limited), or
// kUnknown when the query failed or the value is another.
TokenKind TokenKindOf(bool queried, uint32_t elevation_type);

enum class HostStartWay {
  kDirect,      // this process started it, as before UAC existed
  kByShell,     // the user's desktop shell started it
  kNotStarted,  // the desktop shell did not answer, so nothing was started
};

// Starts the host the way the token calls for and returns the way taken. For a full token only
// start_by_shell is called, which returns whether the user's desktop shell started the host;
// when it did not, nothing else is tried, since any program of the user can end its shell and
// must not thereby get an elevated start. Every other kind calls only start_directly.
HostStartWay StartHostFor(TokenKind token, const std::function<bool()>& start_by_shell,
                          const std::function<void()>& start_directly);

}  // namespace kestrane
