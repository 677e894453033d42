// The process's registry handle: one current root and one open key at a time, in the manner
// of the runtime's registry object. Keys open with the access mask given at construction
// (KEY_ALL_ACCESS, or with KEY_WOW64_64KEY added on 64-bit Windows).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kestrane {

// KEY_ALL_ACCESS in the 64-bit registry view, so that a 32-bit process on 64-bit Windows reads
// and writes the keys 64-bit programs see rather than their WOW6432Node mirror.
constexpr REGSAM kAllAccess64BitView = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
static_assert(kAllAccess64BitView == 0xF013F, "KEY_ALL_ACCESS | KEY_WOW64_64KEY");

class RegistryHandle;

// The key a RegistryHandle::Open opened, closed when the guard goes out of scope, also when a
// read or write throws.
class [[nodiscard]] KeyScope {
 public:
  ~KeyScope();
  KeyScope(const KeyScope&) = delete;
  KeyScope& operator=(const KeyScope&) = delete;
  // Returns true when the key opened. With none open every value test fails and every write
  // throws, which is the answer most callers want without a test of their own.
  bool opened() const { return opened_; }

 private:
  friend class RegistryHandle;
  KeyScope(RegistryHandle& registry, bool opened) : registry_(registry), opened_(opened) {}
  RegistryHandle& registry_;
  bool opened_;
};

class RegistryHandle {
 public:
  explicit RegistryHandle(REGSAM access = KEY_ALL_ACCESS) : access_(access) {}
  ~RegistryHandle() { CloseKey(); }
  RegistryHandle(const RegistryHandle&) = delete;
  RegistryHandle& operator=(const RegistryHandle&) = delete;

  REGSAM Access() const { return access_; }
  // Chooses the root key for the next OpenKey; closes any key open now.
  void SetRoot(HKEY root);
  // Opens the key at path below the root, creating it when missing and create is true.
  // Returns false when it cannot be opened; no key is open then.
  bool OpenKey(const std::string& path, bool create);
  // Chooses root and opens the key at path below it, creating it when missing and create is
  // true; the returned guard closes it again.
  KeyScope Open(HKEY root, const std::string& path, bool create);
  // Returns the open key, or nullptr when none is; for reads of a kind this class lacks.
  HKEY Key() const { return key_; }
  // Returns true when a key is open and has the named value.
  bool ValueExists(const std::string& name);
  // Returns the value's text. Throws RegistryError when it cannot be read or is neither
  // REG_SZ nor REG_EXPAND_SZ ("Invalid data type for '<name>'").
  std::string ReadString(const std::string& name);
  // Returns the value's text through the wide function, every character kept whatever the
  // ANSI code page holds; fails as ReadString does, with the same texts.
  std::u16string ReadWideString(const std::string& name);
  // Writes a REG_DWORD value. Throws RegistryError when no key is open or the write fails
  // ("Failed to set data for '<name>'").
  void WriteInteger(const std::string& name, int32_t value);
  void CloseKey();

 private:
  REGSAM access_;
  HKEY root_ = HKEY_CURRENT_USER;
  HKEY key_ = nullptr;
};

}  // namespace kestrane
