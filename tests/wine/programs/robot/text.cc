#include "text.h"

#include <vector>

namespace robot {
namespace {

constexpr int kMaxTextChars = 65536;

}  // namespace

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], size,
                      nullptr, nullptr);
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Hex(const std::wstring& wide) {
  std::string bytes;
  bytes.reserve(wide.size() * 2);
  for (wchar_t c : wide) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  return Hex(bytes);
}

std::string WindowTextA(HWND window) {
  std::vector<char> buf(kMaxTextChars);
  int n = GetWindowTextA(window, buf.data(), kMaxTextChars);
  return std::string(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring WindowTextW(HWND window) {
  std::vector<wchar_t> buf(kMaxTextChars);
  int n = GetWindowTextW(window, buf.data(), kMaxTextChars);
  return std::wstring(buf.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring DialogItemTextW(HWND dialog, int id) {
  std::vector<wchar_t> buf(kMaxTextChars);
  UINT n = GetDlgItemTextW(dialog, id, buf.data(), kMaxTextChars);
  return std::wstring(buf.data(), n);
}

std::string ClassName(HWND window) {
  char buf[256];
  int n = GetClassNameA(window, buf, sizeof buf);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace robot
