#include "payload/version_probes.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/held_target.h"

namespace kestrane {
namespace {

// The folder of this test program; the test programs are built beside it.
std::string OwnFolder() {
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

// The generated default payload: KESTRANE_ASSETS_DIR when set, else the build's assets folder
// beside this program's.
std::string PayloadPath() {
  const char* assets = std::getenv("KESTRANE_ASSETS_DIR");
  std::string folder = assets != nullptr ? assets : OwnFolder() + "..\\assets";
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder + "kvx.cok";
}

class VersionProbesTest : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH + 1];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    ASSERT_GT(length, 0u);
    dir_ = std::string(temp, length) + "version_probes_" + std::to_string(GetCurrentProcessId()) +
           "\\";
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override {
    for (const std::string& path : written_) DeleteFileA(path.c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    CloseHandle(file);
    written_.push_back(path);
    return path;
  }

  std::string dir_;
  std::vector<std::string> written_;
};

TEST_F(VersionProbesTest, PayloadOfThisPackageReadsAsEachKind) {
  const std::string payload = PayloadPath();
  ASSERT_NE(GetFileAttributesA(payload.c_str()), INVALID_FILE_ATTRIBUTES)
      << payload << " is missing: build the assets (make win64) or set KESTRANE_ASSETS_DIR";
  EXPECT_EQ(ReadCokVersion(WideFromAnsi(payload)), 367);
  EXPECT_EQ(ReadPakVersion(WideFromAnsi(payload)), 51969);  // bytes 6 and 7 are 0x01 0xCB
  EXPECT_EQ(Read3bsVersion(WideFromAnsi(payload)), 1);
}

TEST_F(VersionProbesTest, FixedOffsetNumbersNeedAllTheirBytes) {
  const struct {
    const char* name;
    std::string bytes;
    int32_t pak, cok, three_bs;
  } cases[] = {
      {"empty file", "", 0, 0, 0},
      {"five bytes", std::string("\x10\x11\x12\x13\x14", 5), 0, 0, 0},
      {"six bytes: cok needs offset 6 too", std::string("\x10\x11\x12\x13\x14\x15", 6), 0, 0, 0},
      {"seven bytes: pak lacks offset 7, 3bs has its last byte",
       std::string("\x10\x11\x12\x13\x14\x15\x16", 7), 0, 0x1615, 0x16},
      {"eight bytes", std::string("kvx\0\x22\x6F\x01\xCB", 8), 0xCB01, 367, 1},
      {"numbers are unsigned", std::string(8, '\xFF'), 65535, 65535, 255},
      {"zeros", std::string(16, '\0'), 0, 0, 0},
  };
  for (const auto& c : cases) {
    const std::string path = Write("probe.bin", c.bytes);
    EXPECT_EQ(ReadPakVersion(WideFromAnsi(path)), c.pak) << c.name;
    EXPECT_EQ(ReadCokVersion(WideFromAnsi(path)), c.cok) << c.name;
    EXPECT_EQ(Read3bsVersion(WideFromAnsi(path)), c.three_bs) << c.name;
  }
}

TEST_F(VersionProbesTest, MissingOrBusyFilesGiveZero) {
  EXPECT_EQ(ReadPakVersion(WideFromAnsi(dir_ + "absent.pak")), 0);
  EXPECT_EQ(ReadCokVersion(WideFromAnsi(dir_ + "absent\\deeper.cok")), 0);
  EXPECT_EQ(Read3bsVersion(WideFromAnsi(dir_)), 0);  // a folder
  EXPECT_EQ(ReadCokVersion(WideFromAnsi("")), 0);

  const std::string path = Write("held.cok", std::string("kvx\0\x22\x6F\x01\xCB", 8));
  // Held open by another handle, even one that lets others read: the probes allow no
  // sharing, so they cannot open it.
  for (DWORD share :
       {DWORD{0}, DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadCokVersion(WideFromAnsi(path)), 0) << "share " << share;
    EXPECT_EQ(ReadPakVersion(WideFromAnsi(path)), 0) << "share " << share;
    EXPECT_EQ(Read3bsVersion(WideFromAnsi(path)), 0) << "share " << share;
    CloseHandle(holder);
  }
  // Released, the same file reads, and the probes did not keep it open themselves.
  EXPECT_EQ(ReadCokVersion(WideFromAnsi(path)), 367);
  HANDLE exclusive = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
  CloseHandle(exclusive);
}

TEST_F(VersionProbesTest, ExecutableVersionIsTheFileVersionTextOfTheFirstTranslation) {
  const std::string programs = OwnFolder();
  const std::string text_named_exe = Write("a.exe", "This is a text file, not a program.\r\n");
  const struct {
    const char* name;
    std::string path;
    std::string version;
  } cases[] = {
      {"Russian block 041904E3", programs + "version_ru.exe", "2.5.0.17"},
      {"first listed of two English blocks", programs + "version_en.exe", "1.0.3.12"},
      {"executable without a version resource", programs + "version_none.exe", ""},
      {"text file named a.exe", text_named_exe, ""},
      {"missing file", dir_ + "absent.exe", ""},
      {"folder", dir_, ""},

  };
  for (const auto& c : cases) {
    if (c.name[0] != 'm' && c.name[0] != 'f') {
      ASSERT_NE(GetFileAttributesA(c.path.c_str()), INVALID_FILE_ATTRIBUTES) << c.path;
    }
    EXPECT_EQ(ReadFileVersionText(WideFromAnsi(c.path)), c.version) << c.name;
  }
}

}  // namespace
}  // namespace kestrane
