#include "startup/registry_win.h"

#include <vector>

#include "startup/errors.h"

namespace kestrane {

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
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    throw RegistryError(failure);
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw RegistryError(failure);
  // The value may change between the two queries; retry a bounded number of times.
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::vector<char> buffer(size + 1, '\0');
    DWORD got = size;
    LONG status = RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (status == ERROR_MORE_DATA) {
      size = got;
      continue;
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
      throw RegistryError(failure);
    // A stored text need not be NUL-terminated; the text ends at the first NUL either way.
    std::string text(buffer.data(), got);
    size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
  }
  throw RegistryError(failure);
}

std::u16string RegistryHandle::ReadWideString(const std::string& name) {
  const std::string failure = "Invalid data type for '" + name + "'";
  if (key_ == nullptr) throw RegistryError(failure);
  // The value's name is the program's own ASCII text.
  const std::wstring wide_name(name.begin(), name.end());
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key_, wide_name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    throw RegistryError(failure);
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw RegistryError(failure);
  // The value may change between the two queries; retry a bounded number of times.
  for (int attempt = 0; attempt < 4; ++attempt) {
    // size is in bytes; an odd size still gets room for its last byte.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    DWORD got = size;
    LONG status = RegQueryValueExW(key_, wide_name.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (status == ERROR_MORE_DATA) {
      size = got;
      continue;
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
      throw RegistryError(failure);
    // A stored text need not be NUL-terminated; the text ends at the first NUL either way.
    std::u16string text(buffer.begin(), buffer.begin() + got / sizeof(wchar_t));
    const size_t nul = text.find(u'\0');
    if (nul != std::u16string::npos) text.resize(nul);
    return text;
  }
  throw RegistryError(failure);
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
