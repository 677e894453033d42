// The seal check of files on disk through Win32: the test program's own file, sealed copies
// of it, and files that cannot be opened.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "seal/seal.h"
#include "seal/seal_file_win.h"
#include "seal/sha256.h"

namespace kestrane {
namespace {

// The path as the wide functions take it.
std::wstring Wide(const std::string& path) {
  wchar_t wide[MAX_PATH] = L"";
  const int length =
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide, MAX_PATH);
  return std::wstring(wide, length > 0 ? length : 0);
}

using Bytes = std::vector<uint8_t>;

std::string OwnPath() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

bool WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

class SealFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    dir_ = std::string(temp) + "seal_file_test_" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override {
    for (const std::string& file : files_) DeleteFileA(file.c_str());
    RemoveDirectoryA(dir_.c_str());
  }

  // Writes `bytes` to a new file of the test folder and returns its path.
  std::string Place(const char* name, const Bytes& bytes) {
    std::string path = dir_ + "\\" + name;
    files_.push_back(path);
    EXPECT_TRUE(WriteAll(path, bytes)) << path;
    return path;
  }

  // A sealed copy of this test program: a real PE32+ of several chunks.
  Bytes SealedSelf() {
    Bytes self = ReadAll(OwnPath());
    EXPECT_GT(self.size(), kSealChunkSize) << "expected a file of several chunks";
    SealReport outcome = SealImage(self);
    EXPECT_TRUE(outcome.ok()) << outcome.problem;
    return self;
  }

  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(SealFileTest, ThisUnsealedProgramIsReportedAsCarryingNoSeal) {
  SealReport outcome = CheckFileSeal(Wide(OwnPath()).c_str());
  EXPECT_EQ(outcome.status, SealStatus::kMismatch);
  EXPECT_STREQ(outcome.problem, "the file carries no seal");
}

TEST_F(SealFileTest, SealedCopyOfThisProgramVerifies) {
  std::string path = Place("sealed.exe", SealedSelf());
  SealReport outcome = CheckFileSeal(Wide(path).c_str());
  EXPECT_TRUE(outcome.ok()) << outcome.problem;
}

// A folder named in letters the ANSI code page of an English system lacks.
TEST_F(SealFileTest, SealedCopyInAFolderOutsideTheAnsiCodePageVerifies) {
  const std::wstring folder = Wide(dir_) + L"\\\u0418\u0432\u0430\u043D";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring path = folder + L"\\sealed.exe";
  const Bytes sealed = SealedSelf();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  const bool wrote =
      WriteFile(file, sealed.data(), static_cast<DWORD>(sealed.size()), &written, nullptr) &&
      written == sealed.size();
  CloseHandle(file);
  const SealReport outcome = CheckFileSeal(path.c_str());
  DeleteFileW(path.c_str());
  RemoveDirectoryW(folder.c_str());
  ASSERT_TRUE(wrote);
  EXPECT_TRUE(outcome.ok()) << outcome.problem;
}

TEST_F(SealFileTest, OneChangedByteInAnyChunkIsDistorted) {
  const Bytes sealed = SealedSelf();
  // The first and the last byte of each chunk, and the file's last byte.
  std::vector<size_t> offsets;
  for (size_t chunk = 0; chunk < sealed.size(); chunk += kSealChunkSize) {
    offsets.push_back(chunk == 0 ? 0x100 : chunk);
    offsets.push_back(std::min(chunk + kSealChunkSize, sealed.size()) - 1);
  }
  for (size_t offset : offsets) {
    Bytes changed = sealed;
    changed[offset] ^= 0x10;
    std::string path = Place("changed.exe", changed);
    SealReport outcome = CheckFileSeal(Wide(path).c_str());
    EXPECT_EQ(outcome.status, SealStatus::kMismatch) << "offset " << offset;
    DeleteFileA(path.c_str());
  }
}

TEST_F(SealFileTest, FileOpenForWritingElsewhereIsStillChecked) {
  std::string path = Place("shared.exe", SealedSelf());
  HANDLE writer =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CheckFileSeal(Wide(path).c_str()).ok());
  CloseHandle(writer);
}

TEST_F(SealFileTest, FilesThatCannotBeOpenedAreUnreadable) {
  std::string locked = Place("locked.exe", SealedSelf());
  HANDLE exclusive = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  const std::string missing = dir_ + "\\missing.exe";
  for (const std::string& path : {locked, missing, dir_}) {
    SealReport outcome = CheckFileSeal(Wide(path).c_str());
    EXPECT_EQ(outcome.status, SealStatus::kReadFailed) << path;
    EXPECT_STREQ(outcome.problem, "the file cannot be opened") << path;
  }
  CloseHandle(exclusive);
}

// Both ways of hashing exist in every build, the 32-bit one included: each must give the
// digests FIPS 180-4 gives and verify a sealed file, in this very process.
void ExpectEngineWorks(Sha256Engine engine, const Bytes& sealed) {
  ASSERT_EQ(Sha256(engine).engine(), engine);
  const std::string abc = "abc";
  const std::string million(1000000, 'a');
  EXPECT_EQ(Hex(Sha256Of(reinterpret_cast<const uint8_t*>(abc.data()), abc.size(), engine)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(Sha256Of(reinterpret_cast<const uint8_t*>(million.data()), million.size(), engine)),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  MemorySource source(sealed);
  SealReport outcome = VerifySeal(source, engine);
  EXPECT_TRUE(outcome.ok()) << outcome.problem;
}

TEST_F(SealFileTest, ThePortableEngineVerifiesTheSealAndGivesTheStandardDigests) {
  ExpectEngineWorks(Sha256Engine::kPortable, SealedSelf());
}

TEST_F(SealFileTest, TheShaExtensionsVerifyTheSealAndGiveTheStandardDigests) {
  if (!Sha256HasShaNi()) GTEST_SKIP() << "this processor has no SHA extensions";
  ExpectEngineWorks(Sha256Engine::kShaNi, SealedSelf());
}

TEST_F(SealFileTest, NonPeFilesAreDistorted) {
  for (const Bytes& bytes : {Bytes(), Bytes(3, 'M'), Bytes(1 << 16, 0)}) {
    std::string path = Place("junk.bin", bytes);
    EXPECT_EQ(CheckFileSeal(Wide(path).c_str()).status, SealStatus::kMalformed) << bytes.size();
    DeleteFileA(path.c_str());
  }
}

}  // namespace
}  // namespace kestrane
