#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "environment/folder_size_win.h"
#include "support/held_target.h"
#include "support/test_files.h"

namespace kestrane {
namespace {

struct TreeFile {
  std::string relative_path;  // folders are made as needed
  size_t size;
  DWORD attributes;
};

class FolderSizeWalk : public testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTestFolder(testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_FALSE(root_.empty());
  }
  void TearDown() override { RemoveTree(root_); }

  // Makes the files below root_, with every folder on their way.
  void MakeTree(const std::vector<TreeFile>& files) {
    for (const TreeFile& file : files) {
      for (size_t slash = file.relative_path.find('\\'); slash != std::string::npos;
           slash = file.relative_path.find('\\', slash + 1)) {
        CreateDirectoryA((root_ + file.relative_path.substr(0, slash)).c_str(), nullptr);
      }
      if (file.relative_path.back() == '\\') continue;  // a folder only
      const std::string path = root_ + file.relative_path;
      ASSERT_TRUE(WriteBytes(path, std::string(file.size, 'k'))) << path;
      if (file.attributes != 0) {
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), file.attributes));
      }
    }
  }

  std::string root_;
};

TEST_F(FolderSizeWalk, SumsEveryFileOfTheTreeInWholeKiB) {
  const struct {
    const char* name;
    std::vector<TreeFile> files;
    int32_t kib;
  } cases[] = {
      {"empty folder", {}, 0},
      {"one file of 1023 bytes", {{"a.bin", 1023, 0}}, 0},
      {"one file of 1024 bytes", {{"a.bin", 1024, 0}}, 1},
      {"600 and 600 bytes: the sum is divided", {{"a.bin", 600, 0}, {"b.bin", 600, 0}}, 1},
      {"empty subfolders count nothing", {{"x\\y\\z\\", 0, 0}}, 0},
      {"nested folders are all counted",
       {{"top.bin", 1000, 0},
        {"a\\one.bin", 1000, 0},
        {"a\\b\\two.bin", 1000, 0},
        {"a\\b\\c\\three.bin", 1000, 0},
        {"d\\four.bin", 1120, 0}},
       5},
      {"hidden, system and read-only files count",
       {{"h.bin", 1024, FILE_ATTRIBUTE_HIDDEN},
        {"s.bin", 1024, FILE_ATTRIBUTE_SYSTEM},
        {"r\\o.bin", 1024, FILE_ATTRIBUTE_READONLY}},
       3},
  };
  for (const auto& c : cases) {
    RemoveTree(root_);
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
    MakeTree(c.files);
    EXPECT_EQ(FolderSizeKiB(WideFromAnsi(root_)), c.kib) << c.name;
    std::string without_backslash = root_.substr(0, root_.size() - 1);
    EXPECT_EQ(FolderSizeKiB(WideFromAnsi(without_backslash)), c.kib)
        << c.name << " (no closing backslash)";
  }
}

TEST_F(FolderSizeWalk, NoFolderGivesMinusOne) {
  MakeTree({{"file.bin", 2048, 0}});
  const struct {
    const char* name;
    std::string folder;
  } cases[] = {
      {"empty name", ""},
      {"missing folder", root_ + "missing\\"},
      {"missing folder without backslash", root_ + "missing"},
      {"a file, not a folder", root_ + "file.bin"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FolderSizeKiB(WideFromAnsi(c.folder)), -1) << c.name;
  }
}

// Wine 8 shows a Unix symbolic link to a folder as a directory entry with the reparse-point
// attribute (0x410); Windows shows junctions and directory links the same way.
TEST_F(FolderSizeWalk, DirectoryLinksAreNotFollowed) {
  MakeTree({{"tree\\a.bin", 1024, 0},
            {"tree\\sub\\b.bin", 1024, 0},
            {"tree\\sub\\deeper\\c.bin", 1024, 0},
            {"outside\\big.bin", 10 * 1024, 0}});
  const std::string tree = root_ + "tree\\";
  if (!MakeDirectoryLink(tree + "sub\\deeper\\up", "../..") ||
      !MakeDirectoryLink(tree + "sub\\elsewhere", "../../outside")) {
    GTEST_SKIP() << "directory links cannot be made here";
  }
  const DWORD link_attributes = GetFileAttributesA((tree + "sub\\deeper\\up").c_str());
  EXPECT_EQ(link_attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
      << "a link to a folder shows as a directory reparse point";
  ASSERT_TRUE(PathExists(tree + "sub\\deeper\\up\\sub\\b.bin")) << "the cycle is real";

  EXPECT_EQ(FolderSizeKiB(WideFromAnsi(tree)), 3)
      << "each real file once; the cycle and the link out skipped";
  EXPECT_EQ(FolderSizeKiB(WideFromAnsi(tree + "sub\\elsewhere")), 10)
      << "a link named directly is measured";
}

}  // namespace
}  // namespace kestrane
