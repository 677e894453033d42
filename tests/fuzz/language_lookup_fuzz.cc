// Language files of any content through every lookup and the version reader. The first byte
// chooses the interface language, the key, skip-first-line and the starting pairing flag;
// the rest is the file. When it holds the bytes FE FE, what comes before them is the chosen
// language's file and what follows the folder file; otherwise both files hold all of it.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "environment/install_environment.h"
#include "language/language_files.h"
#include "startup/message_text.h"
#include "payload/version_probes.h"
#include "report_capture.h"
#include "startup/startup_settings.h"

namespace kestrane {
namespace {

std::string g_installDir;

void WriteFile(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
  if (std::fclose(file) != 0) std::abort();
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// A single line never holds a line end and is never longer than the file.
void CheckLine(const std::string& text, size_t file_size) {
  Check(text.find('\n') == std::string::npos && text.find('\r') == std::string::npos);
  Check(text.size() <= file_size);
}

// A block joins lines of the file with CR LF, so it is at most twice as long as the file,
// and it never ends with a line break.
void CheckBlock(const std::string& text, size_t file_size) {
  Check(text.size() <= 2 * file_size);
  Check(text.empty() || text.back() != '\n');
}

}  // namespace

}  // namespace kestrane

using namespace kestrane;

void RemoveFiles() {
  std::remove((g_installDir + "chosen.lng").c_str());
  std::remove((g_installDir + "language\\folder.lng").c_str());
  rmdir(g_installDir.c_str());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every input is written to two files: a memory file system keeps that from dominating.
  std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  pattern += "/language_lookup_fuzz_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  g_installDir = pattern + "/";
  g_installEnvironment.InstallDir = Utf16FromUtf8(g_installDir);
  std::atexit(RemoveFiles);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t control = data[0];
  std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view open_bytes = content;
  std::string_view folder_bytes = content;
  size_t split = content.find("\xFE\xFE");
  if (split != std::string_view::npos) {
    open_bytes = content.substr(0, split);
    folder_bytes = content.substr(split + 2);
  }
  const std::string open_path = g_installDir + "chosen.lng";
  WriteFile(open_path, open_bytes);
  WriteFile(g_installDir + "language\\folder.lng", folder_bytes);

  static const char* const kKeys[] = {"greeting", "k", "langver", ""};
  const std::string key = kKeys[(control >> 3) & 3];
  const bool skip_first_line = (control & 2) != 0;

  LanguageSupport& state = g_languageSupport;
  state.OpenLanguageFile.Close();
  state.FolderLanguageFile.Close();
  state.LanguageFiles = {"folder.lng", "chosen.lng"};
  state.EnglishLanguageIndex = 0;
  state.RussianLanguageIndex = 0;
  state.CurrentLanguageIndex = 1;
  state.OpenLanguageFileName = open_path;
  state.KeepFolderFileOpen = (control & 4) != 0;
  g_startupSettings.RussianUI = (control & 1) != 0;
  g_reportCapture.Clear();

  const size_t largest = std::max(open_bytes.size(), folder_bytes.size());
  // While the pairing flag is set, the fallback of the single-line lookup gives a block.
  const std::string open_value = ReadOpenLanguageKey(key);
  if (state.KeepFolderFileOpen || (control & 4) == 0) {
    CheckLine(open_value, largest);
  } else {
    CheckBlock(open_value, largest);
  }
  CheckBlock(ReadOpenLanguageKeyLines(key, skip_first_line), largest);
  CheckLine(ReadLanguageKey(key), folder_bytes.size());
  CheckBlock(ReadLanguageKeyLines(key, skip_first_line), folder_bytes.size());
  LanguageText(key, {"%2%1", "value"}, skip_first_line);
  // Every file exists and is readable: no lookup may report.
  Check(g_reportCapture.messages.empty());

  ReadLngVersion(Utf16FromUtf8(open_path));
  Check(g_reportCapture.messages.size() <= 1);
  return 0;
}
