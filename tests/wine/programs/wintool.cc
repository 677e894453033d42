// The test harness's hands inside Wine: registry edits, the host application's signals and
// file sharing checks, several per start, since each start of a program costs more than the
// work it does. Every operation prints one JSON line on stdout.
//
//   wintool.exe OP ARGS... [; OP ARGS...]...
// Texts (keys, value names, string data, paths) are given as hex of their UTF-8 bytes, so
// they pass through any locale unchanged; VIEW is 64 or 32.
//   reg-set KEY NAME TYPE DATA VIEW   TYPE sz|expand_sz|multi_sz (DATA: UTF-8 hex, multi_sz
//                                     entries split by "\n"), dword|qword (DATA: decimal),
//                                     binary|none (DATA: the raw bytes in hex)
//   reg-get KEY NAME VIEW             prints type and the raw data bytes in hex
//   reg-delete-value KEY NAME VIEW
//   reg-delete-key KEY VIEW           the key with everything below it
//   reg-list KEY VIEW                 the names of the subkeys and values
//   mapping-exists NAME               whether a named file mapping exists (does not create)
//   find-window CLASS                 the first top-level window of the class and its state
//   wait-window CLASS MS              polls for it up to MS milliseconds
//   post-quit CLASS                   posts WM_QUIT to the first window of the class
//   raise CLASS                       shows it normally and makes it the foreground window
//   open-write PATH                   tries to open an existing file for writing
//   kill-image NAME                   ends every process with that executable file name
//   shell-open PATH                   opens a file through the shell as the installer
//                                     starts the host: verb "open", no parameters
//   attributes PATH                   the file's attributes (GetFileAttributesW)
//   set-attributes PATH VALUE         sets them (SetFileAttributesW, VALUE decimal)
//   make-folder PATH                  CreateDirectoryW, as a Unicode installer makes its folder
//   write-file PATH SIZE              a new file (CreateFileW) of SIZE bytes of a fixed pattern
//   sleep MS
// Exits with 0 when every operation ran (whatever it found), 2 on a malformed command line.
//
//   wintool.exe serve FOLDER_HEX
// answers the same operations (one word a line, ";" between operations) given as request
// files in the folder (serve_loop.h) until a stop request; a malformed operation answers
// {"op":...,"malformed":true}.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "probe_args.h"
#include "serve_loop.h"

namespace {

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  }
  return out;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr,
                        nullptr);
  }
  return out;
}

std::string Hex(const void* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string HexText(const std::string& utf8) { return Hex(utf8.data(), utf8.size()); }

std::string g_output;  // the answers of the operations run so far

void Emit(const std::string& op, const std::string& fields) {
  g_output += "{\"op\":\"" + op + "\"," + fields + "}\n";
}

// Splits "HKLM\Software\X" into its root and path. Returns false for an unknown root.
bool SplitKey(const std::wstring& full, HKEY* root, std::wstring* path) {
  size_t slash = full.find(L'\\');
  std::wstring head = full.substr(0, slash);
  *path = slash == std::wstring::npos ? std::wstring() : full.substr(slash + 1);
  if (head == L"HKLM" || head == L"HKEY_LOCAL_MACHINE")
    *root = HKEY_LOCAL_MACHINE;
  else if (head == L"HKCU" || head == L"HKEY_CURRENT_USER")
    *root = HKEY_CURRENT_USER;
  else if (head == L"HKCR" || head == L"HKEY_CLASSES_ROOT")
    *root = HKEY_CLASSES_ROOT;
  else if (head == L"HKU" || head == L"HKEY_USERS")
    *root = HKEY_USERS;
  else
    return false;
  return true;
}

REGSAM ViewFlag(const std::string& view) {
  return view == "32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

std::string Status(LONG error) {
  return "\"ok\":" + std::string(error == ERROR_SUCCESS ? "true" : "false") +
         ",\"error\":" + std::to_string(error);
}

bool Text(const std::string& hex, std::wstring* out) {
  std::string bytes;
  if (!probe::DecodeHex(hex, &bytes)) return false;
  *out = Wide(bytes);
  return true;
}

// Each operation takes its words and returns false when they are malformed.
using Words = std::vector<std::string>;

bool RegSet(const Words& w) {
  if (w.size() != 5) return false;
  std::wstring full, name;
  HKEY root;
  std::wstring path;
  if (!Text(w[0], &full) || !Text(w[1], &name) || !SplitKey(full, &root, &path)) return false;
  const std::string& type = w[2];
  std::vector<BYTE> data;
  DWORD reg_type;
  if (type == "sz" || type == "expand_sz" || type == "multi_sz") {
    std::wstring text;
    if (!Text(w[3], &text)) return false;
    if (type == "multi_sz") {
      for (wchar_t& c : text) {
        if (c == L'\n') c = L'\0';
      }
      if (!text.empty()) text.push_back(L'\0');
    }
    text.push_back(L'\0');
    reg_type = type == "sz" ? REG_SZ : type == "expand_sz" ? REG_EXPAND_SZ : REG_MULTI_SZ;
    const BYTE* p = reinterpret_cast<const BYTE*>(text.data());
    data.assign(p, p + text.size() * sizeof(wchar_t));
  } else if (type == "dword" || type == "qword") {
    char* end = nullptr;
    unsigned long long v = std::strtoull(w[3].c_str(), &end, 10);
    if (w[3].empty() || *end) return false;
    reg_type = type == "dword" ? REG_DWORD : REG_QWORD;
    size_t size = type == "dword" ? 4 : 8;
    for (size_t i = 0; i < size; ++i) data.push_back(static_cast<BYTE>(v >> (8 * i)));
  } else if (type == "binary" || type == "none") {
    std::string bytes;
    if (!probe::DecodeHex(w[3], &bytes)) return false;
    reg_type = type == "binary" ? REG_BINARY : REG_NONE;
    data.assign(bytes.begin(), bytes.end());
  } else {
    return false;
  }
  Key key;
  LONG error = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | ViewFlag(w[4]),
                               nullptr, key.Out(), nullptr);
  if (error == ERROR_SUCCESS) {
    error = RegSetValueExW(key.Get(), name.c_str(), 0, reg_type, data.data(),
                           static_cast<DWORD>(data.size()));
  }
  Emit("reg-set", Status(error));
  return true;
}

bool RegGet(const Words& w) {
  if (w.size() != 3) return false;
  std::wstring full, name, path;
  HKEY root;
  if (!Text(w[0], &full) || !Text(w[1], &name) || !SplitKey(full, &root, &path)) return false;
  Key key;
  LONG error = RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | ViewFlag(w[2]), key.Out());
  DWORD type = 0, size = 0;
  std::vector<BYTE> data;
  if (error == ERROR_SUCCESS) {
    error = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size);
  }
  if (error == ERROR_SUCCESS) {
    data.resize(size);
    error = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, data.data(), &size);
    data.resize(size);
  }
  Emit("reg-get", Status(error) + ",\"type\":" + std::to_string(type) + ",\"data_hex\":\"" +
                      Hex(data.data(), data.size()) + "\"");
  return true;
}

bool RegDeleteValue(const Words& w) {
  if (w.size() != 3) return false;
  std::wstring full, name, path;
  HKEY root;
  if (!Text(w[0], &full) || !Text(w[1], &name) || !SplitKey(full, &root, &path)) return false;
  Key key;
  LONG error = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE | ViewFlag(w[2]), key.Out());
  if (error == ERROR_SUCCESS) error = RegDeleteValueW(key.Get(), name.c_str());
  Emit("reg-delete-value", Status(error));
  return true;
}

bool RegDeleteKey(const Words& w) {
  if (w.size() != 2) return false;
  std::wstring full, path;
  HKEY root;
  if (!Text(w[0], &full) || !SplitKey(full, &root, &path) || path.empty()) return false;
  REGSAM view = ViewFlag(w[1]);
  Key key;
  LONG error = RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.Out());
  if (error == ERROR_SUCCESS) error = RegDeleteTreeW(key.Get(), nullptr);
  if (error == ERROR_SUCCESS) error = RegDeleteKeyExW(root, path.c_str(), view, 0);
  Emit("reg-delete-key", Status(error));
  return true;
}

bool RegList(const Words& w) {
  if (w.size() != 2) return false;
  std::wstring full, path;
  HKEY root;
  if (!Text(w[0], &full) || !SplitKey(full, &root, &path)) return false;
  Key key;
  LONG error = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | ViewFlag(w[1]), key.Out());
  std::string keys, values;
  for (DWORD i = 0; error == ERROR_SUCCESS && i < 100000; ++i) {
    wchar_t name[256];
    DWORD size = 256;
    if (RegEnumKeyExW(key.Get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    keys += std::string(keys.empty() ? "" : ",") + "\"" + HexText(Utf8(name)) + "\"";
  }
  for (DWORD i = 0; error == ERROR_SUCCESS && i < 100000; ++i) {
    wchar_t name[16384];
    DWORD size = 16384;
    if (RegEnumValueW(key.Get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    values += std::string(values.empty() ? "" : ",") + "\"" + HexText(Utf8(name)) + "\"";
  }
  Emit("reg-list", Status(error) + ",\"keys_hex\":[" + keys + "],\"values_hex\":[" + values + "]");
  return true;
}

std::string WindowState(HWND window) {
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "\"found\":%s,\"hwnd\":%llu,\"visible\":%s,\"iconic\":%s,\"foreground\":%s",
                window ? "true" : "false",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)),
                window && IsWindowVisible(window) ? "true" : "false",
                window && IsIconic(window) ? "true" : "false",
                window && GetForegroundWindow() == window ? "true" : "false");
  return buf;
}

bool Number(const std::string& text, DWORD* value) {
  if (text.empty() || text.size() > 9) return false;
  DWORD v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<DWORD>(c - '0');
  }
  *value = v;
  return true;
}

bool Run(const Words& words) {
  if (words.empty()) return false;
  const std::string& op = words[0];
  Words w(words.begin() + 1, words.end());
  if (op == "reg-set") return RegSet(w);
  if (op == "reg-get") return RegGet(w);
  if (op == "reg-delete-value") return RegDeleteValue(w);
  if (op == "reg-delete-key") return RegDeleteKey(w);
  if (op == "reg-list") return RegList(w);
  if (op == "mapping-exists" && w.size() == 1) {
    std::string name;
    if (!probe::DecodeHex(w[0], &name)) return false;
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    DWORD error = mapping ? 0 : GetLastError();
    if (mapping) CloseHandle(mapping);
    Emit(op, std::string("\"exists\":") + (mapping ? "true" : "false") +
                 ",\"error\":" + std::to_string(error));
    return true;
  }
  if ((op == "find-window" || op == "post-quit" || op == "raise") && w.size() == 1) {
    std::string cls;
    if (!probe::DecodeHex(w[0], &cls)) return false;
    HWND window = FindWindowA(cls.c_str(), nullptr);
    std::string extra;
    if (window && op == "post-quit") {
      extra =
          std::string(",\"posted\":") + (PostMessageA(window, WM_QUIT, 0, 0) ? "true" : "false");
    } else if (window && op == "raise") {
      ShowWindow(window, SW_SHOWNORMAL);
      extra = std::string(",\"raised\":") + (SetForegroundWindow(window) ? "true" : "false");
    }
    Emit(op, WindowState(window) + extra);
    return true;
  }
  if (op == "wait-window" && w.size() == 2) {
    std::string cls;
    DWORD ms;
    if (!probe::DecodeHex(w[0], &cls) || !Number(w[1], &ms)) return false;
    ULONGLONG start = GetTickCount64();
    HWND window = nullptr;
    while (!(window = FindWindowA(cls.c_str(), nullptr)) && GetTickCount64() - start < ms) {
      Sleep(20);
    }
    Emit(op, WindowState(window) + ",\"waited_ms\":" + std::to_string(GetTickCount64() - start));
    return true;
  }
  if (op == "open-write" && w.size() == 1) {
    std::wstring path;
    if (!Text(w[0], &path)) return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    Emit(op, std::string("\"opened\":") + (error == 0 ? "true" : "false") +
                 ",\"error\":" + std::to_string(error));
    return true;
  }
  if (op == "kill-image" && w.size() == 1) {
    std::wstring image;
    if (!Text(w[0], &image)) return false;
    int killed = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap != INVALID_HANDLE_VALUE) {
      PROCESSENTRY32W entry = {};
      entry.dwSize = sizeof entry;
      for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry)) {
        if (lstrcmpiW(entry.szExeFile, image.c_str()) != 0) continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process) continue;
        if (TerminateProcess(process, 0xDEAD)) {
          WaitForSingleObject(process, 2000);
          ++killed;
        }
        CloseHandle(process);
      }
      CloseHandle(snap);
    }
    Emit(op, "\"killed\":" + std::to_string(killed));
    return true;
  }
  if (op == "shell-open" && w.size() == 1) {
    std::wstring path;
    if (!Text(w[0], &path)) return false;
    INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", path.c_str(), L"", L"", SW_SHOWNORMAL));
    Emit(op, std::string("\"ok\":") + (result > 32 ? "true" : "false") +
                 ",\"result\":" + std::to_string(static_cast<long long>(result)));
    return true;
  }
  if (op == "attributes" && w.size() == 1) {
    std::wstring path;
    if (!Text(w[0], &path)) return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
    Emit(op,
         "\"attributes\":" + std::to_string(attributes) + ",\"error\":" + std::to_string(error));
    return true;
  }
  if (op == "set-attributes" && w.size() == 2) {
    std::wstring path;
    DWORD attributes;
    if (!Text(w[0], &path) || !Number(w[1], &attributes)) return false;
    const bool ok = SetFileAttributesW(path.c_str(), attributes) != FALSE;
    Emit(op, std::string("\"ok\":") + (ok ? "true" : "false") +
                 ",\"error\":" + std::to_string(ok ? 0 : GetLastError()));
    return true;
  }
  if (op == "make-folder" && w.size() == 1) {
    std::wstring path;
    if (!Text(w[0], &path)) return false;
    const bool ok = CreateDirectoryW(path.c_str(), nullptr) != FALSE;
    Emit(op, std::string("\"ok\":") + (ok ? "true" : "false") +
                 ",\"error\":" + std::to_string(ok ? 0 : GetLastError()));
    return true;
  }
  if (op == "write-file" && w.size() == 2) {
    std::wstring path;
    DWORD size;
    if (!Text(w[0], &path) || !Number(w[1], &size)) return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (file != INVALID_HANDLE_VALUE) {
      std::vector<BYTE> chunk(64 * 1024);
      for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<BYTE>(i * 131 + 7);
      for (DWORD left = size; left > 0 && error == 0;) {
        const DWORD part = left < chunk.size() ? left : static_cast<DWORD>(chunk.size());
        DWORD written = 0;
        if (!WriteFile(file, chunk.data(), part, &written, nullptr) || written != part) {
          error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        }
        left -= part;
      }
      CloseHandle(file);
    }
    Emit(op, std::string("\"ok\":") + (error == 0 ? "true" : "false") +
                 ",\"error\":" + std::to_string(error));
    return true;
  }
  if (op == "sleep" && w.size() == 1) {
    DWORD ms;
    if (!Number(w[0], &ms)) return false;
    Sleep(ms);
    Emit(op, "\"ms\":" + std::to_string(ms));
    return true;
  }
  return false;
}

// Runs operations separated by ";" words. Returns false at the first malformed one, naming
// it in *bad.
bool RunAll(const Words& all, std::string* bad) {
  Words words;
  for (size_t i = 0; i <= all.size(); ++i) {
    if (i == all.size() || all[i] == ";") {
      if (!words.empty() && !Run(words)) {
        *bad = words[0];
        return false;
      }
      words.clear();
    } else {
      words.push_back(all[i]);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "serve") {
    std::wstring folder;
    if (!Text(argv[2], &folder)) return 2;
    return serve::ServeRequests(folder, [](const Words& lines) {
      g_output.clear();
      std::string bad;
      if (!RunAll(lines, &bad))
        g_output += "{\"op\":\"" + HexText(bad) + "\",\"malformed\":true}\n";
      return g_output;
    });
  }
  Words words(argv + 1, argv + argc);
  std::string bad;
  bool ok = RunAll(words, &bad);
  std::fputs(g_output.c_str(), stdout);
  if (!ok) {
    std::fprintf(stderr, "wintool: malformed operation \"%s\"\n", bad.c_str());
    return 2;
  }
  return 0;
}
