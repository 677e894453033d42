// The installer's own file as hostile input, read through Win32: a sealed copy of this test
// program with headers whose offsets point outside the file, files of a few bytes and files
// of zeros. Most of these cannot be started, so the check is met here directly: each must
// give a verdict of distortion, never a pass, a read failure or a crash.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "seal/seal.h"
#include "seal/seal_file_win.h"

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

uint32_t Get32(const Bytes& bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}
void Put32(Bytes& bytes, size_t at, uint32_t value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}
void Put16(Bytes& bytes, size_t at, uint16_t value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

Bytes SealedSelf() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  EXPECT_GT(length, 0u);
  EXPECT_LT(length, static_cast<DWORD>(MAX_PATH));
  std::ifstream in(std::string(path, length), std::ios::binary);
  Bytes self((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const SealReport sealed = SealImage(self);
  EXPECT_TRUE(sealed.ok()) << sealed.problem;
  return self;
}

// Where the fields lie in this program's own headers (PE32+).
struct Fields {
  size_t pe, sections, directory;
  explicit Fields(const Bytes& file) {
    pe = Get32(file, 0x3C);
    const size_t optional = pe + 24;
    const uint16_t optional_size = static_cast<uint16_t>(file[pe + 20] | file[pe + 21] << 8);
    sections = optional + optional_size;
    directory = optional + ((file[optional] | file[optional + 1] << 8) == 0x20B ? 112 : 96);
  }
  size_t CertificateEntry() const { return directory + 4 * 8; }
};

struct HostileFile {
  const char* name;
  std::function<Bytes(Bytes)> damage;  // applied to a sealed copy of this program
};

class SealHostileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    path_ = std::string(temp) + "seal_hostile_" + std::to_string(GetCurrentProcessId()) + ".exe";
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }

  SealReport Check(const Bytes& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    EXPECT_TRUE(static_cast<bool>(out)) << path_;
    return CheckFileSeal(Wide(path_).c_str());
  }

  std::string path_;
};

TEST_F(SealHostileFileTest, HeaderOffsetsOutsideTheFileAreDistorted) {
  const Bytes sealed = SealedSelf();
  ASSERT_TRUE(Check(sealed).ok());
  const Fields at(sealed);
  const uint32_t size = static_cast<uint32_t>(sealed.size());
  const HostileFile files[] = {
      {"PE header past the end", [&](Bytes f) { return Put32(f, 0x3C, size + 64), f; }},
      {"PE header at 0xFFFFFFF0", [&](Bytes f) { return Put32(f, 0x3C, 0xFFFFFFF0u), f; }},
      {"65535 sections", [&](Bytes f) { return Put16(f, at.pe + 6, 0xFFFF), f; }},
      {"section data past the end",
       [&](Bytes f) { return Put32(f, at.sections + 20, size + 4096), f; }},
      {"section data of 4 GiB", [&](Bytes f) { return Put32(f, at.sections + 16, ~0u), f; }},
      {"optional header of 65535 bytes", [&](Bytes f) { return Put16(f, at.pe + 20, 0xFFFF), f; }},
      {"certificate table past the end",
       [&](Bytes f) {
         Put32(f, at.CertificateEntry(), (size + 4096) & ~7u);
         return Put32(f, at.CertificateEntry() + 4, 4096), f;
       }},
      {"certificate table of 4 GiB",
       [&](Bytes f) {
         Put32(f, at.CertificateEntry(), size & ~7u);
         return Put32(f, at.CertificateEntry() + 4, 0xFFFFFFF8u), f;
       }},
      {"symbol table past the end", [&](Bytes f) { return Put32(f, at.pe + 12, ~0u), f; }},
      {"the seal zeroed", [&](Bytes f) { return std::memset(f.data() + 0x1C, 0, 32), f; }},
      {"cut to its DOS header", [&](Bytes f) { return f.resize(64), f; }},
      {"cut inside the section table", [&](Bytes f) { return f.resize(at.sections + 20), f; }},
  };
  for (const HostileFile& file : files) {
    const SealReport outcome = Check(file.damage(sealed));
    EXPECT_TRUE(outcome.status == SealStatus::kMalformed || outcome.status == SealStatus::kMismatch)
        << file.name << ": " << static_cast<int>(outcome.status);
    EXPECT_GT(std::strlen(outcome.problem), 0u) << file.name;
  }
}

TEST_F(SealHostileFileTest, FilesOfAFewBytesOrOfZerosAreDistorted) {
  const struct {
    const char* name;
    Bytes bytes;
  } files[] = {
      {"one byte", Bytes{'M'}},
      {"MZ alone", Bytes{'M', 'Z'}},
      {"seven bytes", Bytes{'M', 'Z', 0x90, 0, 3, 0, 0}},
      {"a DOS header of zeros", Bytes(64, 0)},
      {"zeros over two read chunks", Bytes(kSealChunkSize + 1, 0)},
      {"MZ then zeros over two read chunks",
       [] {
         Bytes b(kSealChunkSize + 8, 0);
         b[0] = 'M';
         b[1] = 'Z';
         return b;
       }()},
  };
  for (const auto& file : files) {
    const SealReport outcome = Check(file.bytes);
    EXPECT_EQ(outcome.status, SealStatus::kMalformed) << file.name << ": " << outcome.problem;
  }
}

}  // namespace
}  // namespace kestrane
