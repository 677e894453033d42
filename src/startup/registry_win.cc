#include "startup/registry_win.h"

#include <vector>

#include "startup/errors.h"
#include "startup/system_texts_win.h"

namespace kestrane {
namespace {

// Reads a REG_SZ or REG_EXPAND_SZ value through query (RegQueryValueExA or W, bound to the key
// and the value's name) up to its first NUL. Throws RegistryError(failure) when the value
// cannot be read or is of another type.
template <typename Char, typename Query>
std::basic_string<Char> ReadTextValue(const Query& query, const std::string& failure) {
  DWORD type = 0;
  DWORD size = 0;
  if (query(&type, nullptr, &size) != ERROR_SUCCESS) throw RegistryError(failure);
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw RegistryError(failure);
  // The value may change between the two queries; retry a bounded number of times.
  for (int attempt = 0; attempt < 4; ++attempt) {
    // size is in bytes; an odd size still gets room for its last byte, and a NUL follows.
    std::vector<Char> buffer(size / sizeof(Char) + 2, Char());
    DWORD got = size;
    const LONG status = query(&type, reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (status == ERROR_MORE_DATA) {
      size = got;
      continue;
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
      throw RegistryError(failure);
    }
    // A stored text need not be NUL-terminated; the text ends at the first NUL either way.
    std::basic_string<Char> text(buffer.data(), got / sizeof(Char));
    const size_t nul = text.find(Char());
    if (nul != std::basic_string<Char>::npos) text.resize(nul);
    return text;
  }
  throw RegistryError(failure);
}

}  // namespace

void RegistryHandle::SetRoot(HKEY root) {
  CloseKey();
  root_ = root;
}

bool RegistryHandle::OpenKey(const std::string& path, bool create) {
  CloseKey();
  HKEY key = nullptr;
  LONG status;
  if (create) {
    status = RegCreateKeyExA(root_, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_,
                             nullptr, &key, nullptr);
  } else {
    status = RegOpenKeyExA(root_, path.c_str(), 0, access_, &key);
  }
  if (status != ERROR_SUCCESS) return false;
  key_ = key;
  return true;
}

KeyScope::~KeyScope() { registry_.CloseKey(); }

KeyScope RegistryHandle::Open(HKEY root, const std::string& path, bool create) {
  SetRoot(root);
  return KeyScope(*this, OpenKey(path, create));
}

bool RegistryHandle::ValueExists(const std::string& name) {
  if (key_ == nullptr) return false;
  return RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string RegistryHandle::ReadString(const std::string& name) {
  const std::string failure = "Invalid data type for '" + name + "'";
  if (key_ == nullptr) throw RegistryError(failure);
  return ReadTextValue<char>(
      [&](DWORD* type, BYTE* data, DWORD* size) {
        return RegQueryValueExA(key_, name.c_str(), nullptr, type, data, size);
      },
      failure);
}

std::u16string RegistryHandle::ReadWideString(const std::string& name) {
  const std::string failure = "Invalid data type for '" + name + "'";
  if (key_ == nullptr) throw RegistryError(failure);
  // The value's name is the program's own ASCII text.
  const std::wstring wide_name(name.begin(), name.end());
  return Utf16FromWide(ReadTextValue<wchar_t>(
      [&](DWORD* type, BYTE* data, DWORD* size) {
        return RegQueryValueExW(key_, wide_name.c_str(), nullptr, type, data, size);
      },
      failure));
}

void RegistryHandle::WriteInteger(const std::string& name, int32_t value) {
  DWORD data = static_cast<DWORD>(value);
  if (key_ == nullptr ||
      RegSetValueExA(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                     sizeof data) != ERROR_SUCCESS) {
    throw RegistryError("Failed to set data for '" + name + "'");
  }
}

void RegistryHandle::CloseKey() {
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = nullptr;
}

}  // namespace kestrane
