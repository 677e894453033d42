#include "language/language_files.h"

#include "environment/install_environment.h"
#include "language/language_format.h"
#include "language/placeholders.h"
#include "startup/startup_settings.h"

namespace kestrane {

LanguageSupport g_languageSupport;

namespace {

constexpr char16_t kLanguageFolder[] = u"language\\";
constexpr char kLineBreak[] = "\r\n";

// What a lookup gives back to the lookups built on it. failed means the failure has already
// been reported and nothing more is to be read for this lookup.
struct Lookup {
  std::string text;
  bool failed = false;
};

Lookup Failed() { return Lookup{std::string(), true}; }

bool HasEntry(int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < g_languageSupport.LanguageFiles.size();
}

std::string EntryAt(int32_t index) {
  return HasEntry(index) ? g_languageSupport.LanguageFiles[static_cast<size_t>(index)]
                         : std::string();
}

// Appends to *block every further line, each followed by CR LF, up to the first blank line
// (not appended) or the end of the file. Returns false on an input/output error.
bool ReadBlockContinuation(TextFile& file, std::string* block) {
  std::string line;
  for (;;) {
    LineRead read = ReadLanguageLine(file, &line);
    if (read == LineRead::kError) return false;
    if (read == LineRead::kEnd || IsBlank(line)) return true;
    *block += line;
    *block += kLineBreak;
  }
}

void RemoveFinalLineBreak(std::string* block) {
  // A non-empty block always ends with the CR LF of its last line.
  if (!block->empty()) block->resize(block->size() - 2);
}

Lookup LookUpFolderKey(const std::string& key) {
  LanguageSupport& state = g_languageSupport;
  const int32_t index =
      g_startupSettings.RussianUI ? state.RussianLanguageIndex : state.EnglishLanguageIndex;
  Lookup lookup;
  bool read = HasEntry(index) &&
              state.FolderLanguageFile.Open(
                  g_installEnvironment.InstallDir + kLanguageFolder +
                  DecodeCp1251(state.LanguageFiles[static_cast<size_t>(index)])) &&
              ReadKeyValue(state.FolderLanguageFile, key, &lookup.text);
  if (!read) {
    // The flag keeps its value: no file was left open for a continuation to read.
    state.FolderLanguageFile.Close();
    ReportLanguageFileError(EntryAt(index));
    return Failed();
  }
  if (state.KeepFolderFileOpen) {
    state.KeepFolderFileOpen = false;
  } else {
    state.FolderLanguageFile.Close();
  }
  return lookup;
}

// A block whose first line could not be read has been reported once and gives the empty
// text: there is no file to read the rest from.
Lookup LookUpFolderKeyLines(const std::string& key, bool skip_first_line) {
  LanguageSupport& state = g_languageSupport;
  state.KeepFolderFileOpen = true;
  Lookup first = LookUpFolderKey(key);
  if (first.failed) return first;

  std::string block = skip_first_line ? std::string() : first.text + kLineBreak;
  bool read = ReadBlockContinuation(state.FolderLanguageFile, &block);
  state.FolderLanguageFile.Close();
  if (!read) {
    ReportLanguageFileError(EntryAt(state.CurrentLanguageIndex));
    return Lookup{block, false};
  }
  RemoveFinalLineBreak(&block);
  return Lookup{block, false};
}

Lookup LookUpOpenKey(const std::string& key) {
  LanguageSupport& state = g_languageSupport;
  Lookup lookup;
  bool read = !state.OpenLanguageFileName.empty() &&
              state.OpenLanguageFile.Open(state.OpenLanguageFileName) &&
              ReadKeyValue(state.OpenLanguageFile, key, &lookup.text);
  if (!read) {
    state.OpenLanguageFile.Close();
    ReportLanguageFileError(EntryAt(state.CurrentLanguageIndex));
    return Failed();
  }
  if (!lookup.text.empty()) return lookup;
  Lookup fallback =
      state.KeepFolderFileOpen ? LookUpFolderKeyLines(key, false) : LookUpFolderKey(key);
  // A failed fallback has been reported and left KeepFolderFileOpen as it was; the open file
  // is still positioned after the value line, so a block lookup goes on reading from there.
  fallback.failed = false;
  return fallback;
}

Lookup LookUpOpenKeyLines(const std::string& key, bool skip_first_line) {
  LanguageSupport& state = g_languageSupport;
  state.KeepFolderFileOpen = true;
  Lookup first = LookUpOpenKey(key);
  if (first.failed) return first;

  std::string block = first.text + kLineBreak;
  // Still set: the value came from OpenLanguageFile, which is positioned after it. Cleared:
  // the folder lookup gave the whole block already.
  if (state.KeepFolderFileOpen) {
    if (skip_first_line) block.clear();
    if (!ReadBlockContinuation(state.OpenLanguageFile, &block)) {
      ReportLanguageFileError(EntryAt(state.CurrentLanguageIndex));
      return Lookup{block, false};
    }
  }
  RemoveFinalLineBreak(&block);
  return Lookup{block, false};
}

}  // namespace

std::string ReadLanguageKey(const std::string& key) { return LookUpFolderKey(key).text; }

std::string ReadLanguageKeyLines(const std::string& key, bool skip_first_line) {
  return LookUpFolderKeyLines(key, skip_first_line).text;
}

std::string ReadOpenLanguageKey(const std::string& key) { return LookUpOpenKey(key).text; }

std::string ReadOpenLanguageKeyLines(const std::string& key, bool skip_first_line) {
  return LookUpOpenKeyLines(key, skip_first_line).text;
}

std::string LanguageText(const std::string& key, const std::vector<std::string>& values,
                         bool skip_first_line) {
  return FillPlaceholders(ReadOpenLanguageKeyLines(key, skip_first_line), values);
}

}  // namespace kestrane
