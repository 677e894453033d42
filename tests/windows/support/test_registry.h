// Direct registry work for the tests under Wine (64-bit view): writing values, removing
// keys, and keeping a value aside while a test changes it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrane {

// Access for every key the tests open: all access, 64-bit view.
constexpr REGSAM kTestRegistryAccess = KEY_ALL_ACCESS | KEY_WOW64_64KEY;  // 0xF013F

bool SetStringValue(HKEY root, const std::string& key, const std::string& name,
                    const std::string& value);
bool SetDwordValue(HKEY root, const std::string& key, const std::string& name, DWORD value);
// Removes the key with everything below it; a missing key is not an error.
bool DeleteKeyTree(HKEY root, const std::string& key);
bool KeyExists(HKEY root, const std::string& key);
// Returns a string value, or an empty text when it cannot be read.
std::string ReadStringValue(HKEY root, const std::string& key, const std::string& name);

// Keeps a value (or its absence) and puts it back when destroyed.
class SavedValue {
 public:
  SavedValue(HKEY root, const std::string& key, const std::string& name);
  ~SavedValue();
  SavedValue(const SavedValue&) = delete;
  SavedValue& operator=(const SavedValue&) = delete;
  bool Delete();  // removes the value for the test

 private:
  HKEY root_;
  std::string key_;
  std::string name_;
  bool existed_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};

}  // namespace kestrane
