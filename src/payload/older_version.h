// The rules of the version-guarded payload write: which kinds of file carry a version, when a
// new file counts as older than the one it would replace, and the question the user is asked
// before it does.
#pragma once

#include <cstdint>
#include <string>

#include "startup/message_text.h"

namespace kestrane {

// The kinds of file whose versions are compared, by resource type (also the extension).
enum class VersionKind {
  kNone,        // any other type: written over the existing file without a comparison
  kExecutable,  // "exe": the FileVersion text of the version resource
  kPak,         // "pak": 16-bit number at offset 6
  k3bs,         // "3bs": 8-bit number at offset 6
  kCok,         // "cok": 16-bit number at offset 5
  kLng,         // "lng": the number after the [langver] header
};

// Returns the kind of a resource type. Letters A to Z count without regard to case: the
// package build takes the type from the payload's file name as written, and the file system
// ignores case, so "COK" names the same kind of file as "cok".
VersionKind VersionKindOf(const std::string& resource_type);

// Returns true when a file of this kind is compared with the existing target before it
// replaces it: false for kNone, and for language files whose target path contains "!".
bool ComparesVersions(VersionKind kind, const std::u16string& target);

// A version as read from disk: the number for the numeric kinds, the text for executables.
// A file that cannot be read gives 0 or the empty text.
struct FileVersion {
  int32_t number = 0;
  std::string text;
};

// Returns true when the new file is older than the existing one. Executables: the existing
// text is not empty, the texts differ and IsVersionOlder(new, existing). Numeric kinds: the
// existing number is greater (signed). Never true for kNone.
bool IsOlderFile(VersionKind kind, const FileVersion& new_version, const FileVersion& existing);

// Returns the version as the question names it: the text of an executable, the decimal
// number of the other kinds.
std::string VersionForQuestion(VersionKind kind, const FileVersion& version);

struct OlderQuestion {
  MessageText caption;
  MessageText text;
};

// Returns the built-in question, in Russian (code page 1251) or English, naming the target
// path (every character of it) and the existing file's and the new file's versions.
OlderQuestion BuiltInOlderQuestion(bool russian, const std::u16string& target,
                                   const std::string& existing_version,
                                   const std::string& new_version);

// Asks whether the older file may replace the newer target; returns true only for yes. While
// no language is chosen (CurrentLanguageIndex below 0) the built-in question of the interface
// language is asked; otherwise the caption is the language files' "soundquest" and the text
// their "olderfilever" with %1 the target path (%2 to %4 get empty texts), asked in the
// chosen language (low 16 bits of CurrentLanguageId), its texts read in that language's code
// page. A language file that cannot be read is reported by the lookup, and the question is
// then asked with what it gave.
bool AskToReplaceWithOlder(const std::u16string& target, const std::string& existing_version,
                           const std::string& new_version);

}  // namespace kestrane
