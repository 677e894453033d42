// The install folder held by handle, and the files reached relative to it: the writer's
// temporary file, its replace and removal, and the size walk, with names in several scripts.
#include "installfolder/folder_handle_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "environment/folder_size_win.h"
#include "payload/safe_write_win.h"
#include "payload/version_probes_win.h"
#include "startup/messages.h"
#include "startup/startup_settings.h"
#include "support/box_answerer.h"
#include "support/held_target.h"
#include "support/test_files.h"

namespace kestrane {
namespace {

std::wstring W(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// Removes a tree whose names need not fit the ANSI code page; links are not followed.
void RemoveWideTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
    return;
  }
  std::vector<std::wstring> entries;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") entries.push_back(path + L"\\" + name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  for (const std::wstring& child : entries) RemoveWideTree(child);
  RemoveDirectoryW(path.c_str());
}

bool WriteWide(const std::wstring& path, size_t size) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::string bytes(size, 'x');
  DWORD written = 0;
  const bool ok =
      size == 0 || WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(file);
  return ok && written == size;
}

std::string ReadWide(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(1 << 16, '\0');
  DWORD read = 0;
  ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class HeldFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    base_ = MakeTestFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_FALSE(base_.empty());
    // Cyrillic for the folder: outside code page 1252 and inside 1251; Greek for the files:
    // outside both.
    folder_ = WideFromAnsi(base_) + u"Игры\\";
    ASSERT_TRUE(CreateDirectoryW(W(folder_).c_str(), nullptr));
  }
  void TearDown() override {
    RemoveWideTree(W(folder_.substr(0, folder_.size() - 1)));
    RemoveTree(base_);
  }

  std::string base_;
  std::u16string folder_;
};

TEST_F(HeldFolderTest, AHeldFolderCannotBeRenamedOrRemovedButCanBeHeldTwice) {
  HeldFolder held(folder_);
  ASSERT_TRUE(held.held()) << GetLastError();
  EXPECT_EQ(held.path(), folder_);
  const std::wstring path = W(folder_.substr(0, folder_.size() - 1));
  EXPECT_FALSE(MoveFileW(path.c_str(), (path + L"_moved").c_str())) << "renamed while held";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(RemoveDirectoryW(path.c_str())) << "removed while held";
  HeldFolder second(folder_.substr(0, folder_.size() - 1));
  EXPECT_TRUE(second.held()) << "a second run holds it as well";
  EXPECT_EQ(second.path(), folder_) << "the closing backslash is added";
}

TEST_F(HeldFolderTest, OnlyAnExistingFolderIsHeld) {
  ASSERT_TRUE(WriteWide(W(folder_) + L"файл.bin", 10));
  const struct {
    const char* name;
    std::u16string path;
  } cases[] = {
      {"missing folder", folder_ + u"нет\\"},
      {"a file", folder_ + u"файл.bin"},
      {"empty path", u""},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(HeldFolder(c.path).held()) << c.name;
  }
}

TEST_F(HeldFolderTest, ATemporaryFileIsWrittenMovedAndRemovedInsideTheHeldFolder) {
  const HeldFolder held(folder_);
  ASSERT_TRUE(held.held());
  const std::u16string target = u"Δεδομένα.cok";
  const std::u16string temporary = u"~Δεδομένα.cok";
  ASSERT_TRUE(WriteWide(W(folder_ + target), 3));

  ScopedHandle file;
  ASSERT_TRUE(WriteTemporaryFile("new bytes", 9, held.get(), temporary, &file));
  EXPECT_EQ(ReadWide(W(folder_ + temporary)), "<missing>") << "held without sharing";
  ASSERT_TRUE(ReplaceFileWith(file.get(), held.get(), target));
  file.Close();
  EXPECT_EQ(ReadWide(W(folder_ + target)), "new bytes");
  EXPECT_FALSE(Exists(W(folder_ + temporary)));

  ASSERT_TRUE(WriteTemporaryFile("gone", 4, held.get(), temporary, &file));
  EXPECT_TRUE(RemoveThroughHandle(file));
  EXPECT_FALSE(Exists(W(folder_ + temporary))) << "removed through its own handle";
  EXPECT_EQ(ReadWide(W(folder_ + target)), "new bytes");
}

TEST_F(HeldFolderTest, ALeftoverOfOursIsRemovedAnythingElseIsKept) {
  const HeldFolder held(folder_);
  ASSERT_TRUE(held.held());
  const std::u16string temporary = u"~Δεδομένα.cok";
  // A read-only plain file of an earlier run.
  ASSERT_TRUE(WriteWide(W(folder_ + temporary), 5));
  ASSERT_TRUE(SetFileAttributesW(W(folder_ + temporary).c_str(), FILE_ATTRIBUTE_READONLY));
  ScopedHandle file;
  ASSERT_TRUE(WriteTemporaryFile("fresh", 5, held.get(), temporary, &file));
  EXPECT_TRUE(RemoveThroughHandle(file));

  // A folder at the name is neither followed nor removed.
  ASSERT_TRUE(CreateDirectoryW(W(folder_ + temporary).c_str(), nullptr));
  EXPECT_FALSE(WriteTemporaryFile("x", 1, held.get(), temporary, &file));
  EXPECT_TRUE(Exists(W(folder_ + temporary)));
  RemoveDirectoryW(W(folder_ + temporary).c_str());

  // A file somebody holds open is left alone.
  ASSERT_TRUE(WriteWide(W(folder_ + temporary), 5));
  HANDLE other = CreateFileW(W(folder_ + temporary).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteTemporaryFile("x", 1, held.get(), temporary, &file));
  CloseHandle(other);
  EXPECT_EQ(ReadWide(W(folder_ + temporary)), "xxxxx");
}

DWORD WINAPI CloseAfterAWhile(void* handle) {
  Sleep(700);
  CloseHandle(static_cast<HANDLE>(handle));
  return 0;
}

TEST_F(HeldFolderTest, TheReplaceWaitsForAHeldTarget) {
  const HeldFolder held(folder_);
  ASSERT_TRUE(held.held());
  const std::u16string target = u"Kestrane.cok";
  ASSERT_TRUE(WriteWide(W(folder_ + target), 3));
  HANDLE holder = CreateFileW(W(folder_ + target).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ScopedHandle file;
  ASSERT_TRUE(WriteTemporaryFile("after", 5, held.get(), u"~Kestrane.cok", &file));
  HANDLE closer = CreateThread(nullptr, 0, CloseAfterAWhile, holder, 0, nullptr);
  ASSERT_NE(closer, nullptr);
  const DWORD start = GetTickCount();
  EXPECT_TRUE(ReplaceFileWith(file.get(), held.get(), target));
  EXPECT_GE(GetTickCount() - start, 500u) << "it waited for the holder";
  WaitForSingleObject(closer, INFINITE);
  CloseHandle(closer);
  file.Close();
  EXPECT_EQ(ReadWide(W(folder_ + target)), "after");
}

TEST_F(HeldFolderTest, AFolderThatCannotBeHeldIsAFailedWriteThatCreatesNothing) {
  const std::u16string missing = folder_ + u"Папка\\kvx.cok";
  g_startupSettings.RussianUI = false;
  SetErrorTitles({"Проверка", "Held folder test"});
  for (bool guarded : {false, true}) {
    std::vector<AnsweredBox> boxes;
    {
      BoxAnswerer answerer;
      EXPECT_FALSE(ExtractPayloadTo("kvx", "cok", missing, guarded)) << guarded;
      boxes = answerer.Boxes();
    }
    EXPECT_FALSE(Exists(W(folder_ + u"Папка"))) << guarded;
    if (!BoxesCanBeRead()) continue;
    ASSERT_EQ(boxes.size(), 1u) << guarded;
    // The box names the path in every character, the Cyrillic folder included.
    EXPECT_EQ(boxes[0].text, L"Can't install file " + W(missing)) << guarded;
  }
}

TEST_F(HeldFolderTest, TheWalkCountsNamesInEveryScript) {
  const struct {
    std::u16string relative;
    size_t size;
  } files[] = {
      {u"Kestrane.exe", 1024},
      {u"Сохранения\\слот1.sav", 2048},
      {u"Сохранения\\Αποθήκευση\\δύο.sav", 3072},
      {u"语言\\中文.lng", 1024},
  };
  for (const auto& f : files) {
    const size_t slash = f.relative.find_last_of(u'\\');
    if (slash != std::u16string::npos) {
      // Folders on the way, outermost first.
      for (size_t at = f.relative.find(u'\\'); at != std::u16string::npos;
           at = f.relative.find(u'\\', at + 1)) {
        CreateDirectoryW(W(folder_ + f.relative.substr(0, at)).c_str(), nullptr);
      }
    }
    ASSERT_TRUE(WriteWide(W(folder_ + f.relative), f.size));
  }
  EXPECT_EQ(FolderSizeKiB(folder_), 7);
  const HeldFolder held(folder_);
  ASSERT_TRUE(held.held());
  EXPECT_EQ(FolderSizeKiB(held.get()), 7);
}

TEST_F(HeldFolderTest, TheDataFileVersionsAreReadInsideTheHeldFolder) {
  const HeldFolder held(folder_);
  ASSERT_TRUE(held.held());
  const std::u16string data = u"Δεδομένα.cok";
  const std::u16string missing = u"нет.cok";
  const std::u16string folder = u"Папка.cok";
  // Bytes 5 to 7: 0x6F 0x01 0x02, so "cok" (offset 5) reads 367, "pak" (offset 6) 513 and
  // "3bs" (offset 6) 1.
  const std::string bytes("kvx\0\0\x6F\x01\x02", 8);
  HANDLE file = CreateFileW(W(folder_ + data).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size());
  EXPECT_EQ(ReadCokVersionIn(held.get(), data), 367);
  EXPECT_EQ(ReadPakVersionIn(held.get(), data), 513);
  EXPECT_EQ(Read3bsVersionIn(held.get(), data), 1);
  EXPECT_EQ(ReadCokVersionIn(held.get(), missing), 0) << "a missing file";
  ASSERT_TRUE(CreateDirectoryW(W(folder_ + folder).c_str(), nullptr));
  EXPECT_EQ(ReadCokVersionIn(held.get(), folder), 0) << "a folder";
  HANDLE holder = CreateFileW(W(folder_ + data).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadCokVersionIn(held.get(), data), 0) << "held by another handle";
  CloseHandle(holder);
}

}  // namespace
}  // namespace kestrane
