#include "test_registry.h"

#include <cstdio>

namespace kestrane {
namespace {

// Owns an open key.
class Key {
 public:
  Key(HKEY root, const std::string& path, bool create) {
    LONG status = create ? RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, kTestRegistryAccess,
                                           nullptr, &key_, nullptr)
                         : RegOpenKeyExA(root, path.c_str(), 0, kTestRegistryAccess, &key_);
    if (status != ERROR_SUCCESS && !(status == ERROR_FILE_NOT_FOUND && !create)) {
      // Said here, so that a failed set-up names the system's reason in the test log.
      std::fprintf(stderr, "test registry: %s of %s failed with error %ld\n",
                   create ? "RegCreateKeyExA" : "RegOpenKeyExA", path.c_str(), status);
    }
    if (status != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

bool SetStringValue(HKEY root, const std::string& key, const std::string& name,
                    const std::string& value) {
  Key opened(root, key, true);
  return opened.get() != nullptr &&
         RegSetValueExA(opened.get(), name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool SetDwordValue(HKEY root, const std::string& key, const std::string& name, DWORD value) {
  Key opened(root, key, true);
  return opened.get() != nullptr &&
         RegSetValueExA(opened.get(), name.c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

bool DeleteKeyTree(HKEY root, const std::string& key) {
  {
    Key opened(root, key, false);
    if (opened.get() == nullptr) return true;
    if (RegDeleteTreeA(opened.get(), nullptr) != ERROR_SUCCESS) return false;
  }
  return RegDeleteKeyExA(root, key.c_str(), KEY_WOW64_64KEY, 0) == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const std::string& key) {
  Key opened(root, key, false);
  return opened.get() != nullptr;
}

std::string ReadStringValue(HKEY root, const std::string& key, const std::string& name) {
  Key opened(root, key, false);
  if (opened.get() == nullptr) return std::string();
  char buffer[1024];
  DWORD size = sizeof buffer - 1;
  DWORD type = 0;
  if (RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                       &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::string();
  }
  buffer[size] = '\0';
  return std::string(buffer);
}

SavedValue::SavedValue(HKEY root, const std::string& key, const std::string& name)
    : root_(root), key_(key), name_(name) {
  Key opened(root, key, false);
  DWORD size = 0;
  if (opened.get() == nullptr || RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type_,
                                                  nullptr, &size) != ERROR_SUCCESS) {
    return;
  }
  data_.resize(size);
  existed_ = RegQueryValueExA(opened.get(), name.c_str(), nullptr, &type_, data_.data(), &size) ==
             ERROR_SUCCESS;
  data_.resize(size);
}

SavedValue::~SavedValue() {
  Key opened(root_, key_, existed_);
  if (opened.get() == nullptr) return;
  if (existed_) {
    RegSetValueExA(opened.get(), name_.c_str(), 0, type_, data_.data(),
                   static_cast<DWORD>(data_.size()));
  } else {
    RegDeleteValueA(opened.get(), name_.c_str());
  }
}

bool SavedValue::Delete() {
  Key opened(root_, key_, false);
  if (opened.get() == nullptr) return true;
  LONG status = RegDeleteValueA(opened.get(), name_.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace kestrane
