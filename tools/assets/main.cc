// Makes the generated build inputs that are too large or too binary to keep in the tree:
//   kestrane-assets payload OUT   the stand-in "cok" payload of the default package
//   kestrane-assets icon OUT      the package icon
//   kestrane-assets versioninfo VERSION ORIGINAL_FILENAME OUT
//                                 the package's VERSIONINFO resource script
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "update/version_resource.h"

namespace {

// The payload is a data file of the host application; any bytes serve as long as the head
// carries what the version probes read: "kvx", 0x00, 0x22, then version 367 as a 16-bit
// little-endian number at offset 5. Byte 7 (0xCB) makes a "pak" reading of the same bytes
// give 51969.
constexpr uint32_t kPayloadSize = 17241417;
constexpr unsigned char kPayloadHead[] = {'k', 'v', 'x', 0x00, 0x22, 0x6F, 0x01, 0xCB};

bool WriteFile(const char* path, const std::vector<unsigned char>& bytes) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::perror(path);
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = (std::fclose(file) == 0) && ok;
  if (!ok) std::fprintf(stderr, "%s: write failed\n", path);
  return ok;
}

std::vector<unsigned char> MakePayload() {
  std::vector<unsigned char> bytes(kPayloadSize);
  std::memcpy(bytes.data(), kPayloadHead, sizeof kPayloadHead);
  uint64_t state = 0x9E3779B97F4A7C15ull;  // fixed seed: the same bytes on every build
  for (size_t i = sizeof kPayloadHead; i < bytes.size(); ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    bytes[i] = static_cast<unsigned char>(state >> 24);
  }
  return bytes;
}

void Put16(std::vector<unsigned char>& out, uint16_t v) {
  out.push_back(v & 0xFF);
  out.push_back(v >> 8);
}
void Put32(std::vector<unsigned char>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A 32 x 32, 32-bit icon: a teal rounded tile with a white "K".
std::vector<unsigned char> MakeIcon() {
  constexpr int kSide = 32;
  constexpr uint32_t kPixels = kSide * kSide * 4;
  constexpr uint32_t kMask = kSide * 4;  // 1 bit a pixel, rows padded to 4 bytes
  std::vector<unsigned char> out;
  Put16(out, 0);  // ICONDIR
  Put16(out, 1);
  Put16(out, 1);
  out.push_back(kSide);  // ICONDIRENTRY
  out.push_back(kSide);
  out.push_back(0);
  out.push_back(0);
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, 40 + kPixels + kMask);
  Put32(out, 6 + 16);
  Put32(out, 40);  // BITMAPINFOHEADER; the height counts the colour and mask halves
  Put32(out, kSide);
  Put32(out, kSide * 2);
  Put16(out, 1);
  Put16(out, 32);
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  for (int row = kSide - 1; row >= 0; --row) {  // bottom-up
    for (int col = 0; col < kSide; ++col) {
      int dx = col < 4 ? 4 - col : (col > 27 ? col - 27 : 0);
      int dy = row < 4 ? 4 - row : (row > 27 ? row - 27 : 0);
      bool inside = dx * dx + dy * dy <= 16;
      bool stem = col >= 9 && col <= 12 && row >= 6 && row <= 25;
      int diagonal = row <= 15 ? (15 - row) : (row - 16);  // arms of the K
      bool arm = row >= 6 && row <= 25 && col >= 13 + diagonal && col <= 16 + diagonal;
      unsigned char b = 0x80, g = 0x80, r = 0x10, a = inside ? 0xFF : 0x00;
      if (inside && (stem || arm)) b = g = r = 0xFF;
      out.push_back(b);
      out.push_back(g);
      out.push_back(r);
      out.push_back(a);
    }
  }
  out.insert(out.end(), kMask, 0);  // the alpha channel decides; the mask shows everything
  return out;
}

}  // namespace

// Writes the version resource script through a temporary file renamed over OUT, so that the
// build never compiles half a script.
int WriteVersionInfo(const char* version_text, const char* original_filename, const char* out) {
  char* end = nullptr;
  long version = std::strtol(version_text, &end, 10);
  if (end == version_text || *end != '\0' || version < 1 || version > 65535) {
    std::fprintf(stderr, "versioninfo: VERSION must be a number from 1 to 65535: %s\n",
                 version_text);
    return 2;
  }
  for (const char* c = original_filename; *c != '\0'; ++c) {
    if (*c < 0x20 || *c > 0x7E) {
      std::fprintf(stderr, "versioninfo: the file name must be printable ASCII: %s\n",
                   original_filename);
      return 2;
    }
  }
  const std::string script =
      kestrane::VersionInfoScript(static_cast<int>(version), original_filename);
  const std::string temp = std::string(out) + ".tmp";
  if (!WriteFile(temp.c_str(), std::vector<unsigned char>(script.begin(), script.end()))) {
    std::remove(temp.c_str());
    return 1;
  }
  if (std::rename(temp.c_str(), out) != 0) {
    std::perror(out);
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "versioninfo") == 0) {
    return WriteVersionInfo(argv[2], argv[3], argv[4]);
  }
  if (argc != 3 || (std::strcmp(argv[1], "payload") != 0 && std::strcmp(argv[1], "icon") != 0)) {
    std::fprintf(stderr,
                 "usage: kestrane-assets payload|icon OUT\n"
                 "       kestrane-assets versioninfo VERSION ORIGINAL_FILENAME OUT\n");
    return 2;
  }
  bool ok = std::strcmp(argv[1], "payload") == 0 ? WriteFile(argv[2], MakePayload())
                                                 : WriteFile(argv[2], MakeIcon());
  return ok ? 0 : 1;
}
