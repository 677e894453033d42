// The sealing tool on real mingw-built executables, and the seal surviving an Authenticode
// signature made by osslsigncode with a throwaway certificate.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestrane {
namespace {

struct Outcome {
  int exit_code;
  std::string output;  // stdout and stderr
};

Outcome Shell(const std::string& command) {
  Outcome run{-1, ""};
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::vector<char> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The tool is built next to the test executable.
std::string SealTool() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "kestrane-seal";
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + "kestrane-seal";
}

class SealToolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/seal-tool-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = new std::string(pattern);
    std::ofstream(*dir_ + "/hello.c") << "#include <stdio.h>\nint main(void) { puts(\"hello\"); "
                                         "return 0; }\n";
    for (const char* arch : {"x86_64", "i686"}) {
      Outcome compile =
          Shell(std::string(arch) + "-w64-mingw32-gcc -O2 -o " +
                Quote(*dir_ + "/hello-" + arch + ".exe") + " " + Quote(*dir_ + "/hello.c"));
      ASSERT_EQ(compile.exit_code, 0) << compile.output;
    }
    // A program carrying a 5000-byte resource COK/KVX, as a package carries its payload.
    std::vector<char> payload(5000);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 31 + (i >> 7));
    WriteFile(*dir_ + "/kvx.cok", payload);
    std::ofstream(*dir_ + "/res.rc") << "KVX COK \"" << *dir_ << "/kvx.cok\"\n";
    Outcome resources = Shell("x86_64-w64-mingw32-windres -O coff -o " + Quote(*dir_ + "/res.o") +
                              " " + Quote(*dir_ + "/res.rc") + " && x86_64-w64-mingw32-gcc -s -o " +
                              Quote(*dir_ + "/res.exe") + " " + Quote(*dir_ + "/hello.c") + " " +
                              Quote(*dir_ + "/res.o"));
    ASSERT_EQ(resources.exit_code, 0) << resources.output;
    Outcome key = Shell(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=Throwaway "
        "-keyout " +
        Quote(*dir_ + "/key.pem") + " -out " + Quote(*dir_ + "/cert.pem"));
    ASSERT_EQ(key.exit_code, 0) << key.output;
  }
  static void TearDownTestSuite() {
    if (dir_ != nullptr) Shell("rm -rf " + Quote(*dir_));
    delete dir_;
    dir_ = nullptr;
  }

  static std::string Path(const std::string& name) { return *dir_ + "/" + name; }

  static Outcome Tool(const std::string& args) { return Shell(Quote(SealTool()) + " " + args); }

  static Outcome Sign(const std::string& in, const std::string& out) {
    return Shell("osslsigncode sign -certs " + Quote(Path("cert.pem")) + " -key " +
                 Quote(Path("key.pem")) + " -n Kestrane -in " + Quote(in) + " -out " + Quote(out));
  }

  // A fresh unsealed copy of the compiled program for one test.
  static std::string Fresh(const char* arch, const std::string& name) {
    std::string path = Path(name);
    WriteFile(path, ReadFile(Path(std::string("hello-") + arch + ".exe")));
    return path;
  }

  static std::string* dir_;
};

std::string* SealToolTest::dir_ = nullptr;

const char* const kArchitectures[] = {"x86_64", "i686"};

TEST_F(SealToolTest, SealedThenSignedExecutableVerifiesAndAFlippedByteFails) {
  for (const char* arch : kArchitectures) {
    SCOPED_TRACE(arch);
    std::string exe = Fresh(arch, std::string("round-") + arch + ".exe");
    Outcome unsealed = Tool("--verify " + Quote(exe));
    EXPECT_EQ(unsealed.exit_code, 1);
    EXPECT_NE(unsealed.output.find("carries no seal"), std::string::npos) << unsealed.output;

    Outcome seal = Tool("seal " + Quote(exe));
    ASSERT_EQ(seal.exit_code, 0) << seal.output;
    EXPECT_EQ(ReadFile(exe).size() % 8, 0u);
    Outcome verified = Tool("--verify " + Quote(exe));
    EXPECT_EQ(verified.exit_code, 0) << verified.output;
    EXPECT_NE(verified.output.find("sealed, verified"), std::string::npos) << verified.output;

    std::string signed_exe = exe + ".signed.exe";
    Outcome sign = Sign(exe, signed_exe);
    ASSERT_EQ(sign.exit_code, 0) << sign.output;
    Outcome signature = Shell("osslsigncode verify -CAfile " + Quote(Path("cert.pem")) + " -in " +
                              Quote(signed_exe));
    EXPECT_EQ(signature.exit_code, 0) << signature.output;
    std::vector<char> signed_bytes = ReadFile(signed_exe);
    ASSERT_GT(signed_bytes.size(), ReadFile(exe).size()) << "osslsigncode added no certificate";
    Outcome after_signing = Tool("--verify " + Quote(signed_exe));
    EXPECT_EQ(after_signing.exit_code, 0) << after_signing.output;
    EXPECT_NE(after_signing.output.find("certificate table"), std::string::npos);

    // One changed byte of program code, well before the certificate table.
    signed_bytes[signed_bytes.size() / 3] ^= 0x01;
    std::string flipped = exe + ".flipped.exe";
    WriteFile(flipped, signed_bytes);
    Outcome distorted = Tool("--verify " + Quote(flipped));
    EXPECT_EQ(distorted.exit_code, 1);
    EXPECT_NE(distorted.output.find("distorted"), std::string::npos) << distorted.output;
  }
}

TEST_F(SealToolTest, SealingASignedExecutableIsRefused) {
  std::string exe = Fresh("x86_64", "presigned.exe");
  std::string signed_exe = Path("presigned-signed.exe");
  ASSERT_EQ(Sign(exe, signed_exe).exit_code, 0);
  const std::vector<char> before = ReadFile(signed_exe);
  Outcome seal = Tool("seal " + Quote(signed_exe));
  EXPECT_EQ(seal.exit_code, 1);
  EXPECT_NE(seal.output.find("seal it before signing"), std::string::npos) << seal.output;
  EXPECT_EQ(ReadFile(signed_exe), before);
}

TEST_F(SealToolTest, SealingKeepsTheFileModeAndLeavesNoTemporaryFile) {
  std::string exe = Fresh("x86_64", "mode.exe");
  ASSERT_EQ(chmod(exe.c_str(), 0751), 0);
  ASSERT_EQ(Tool("seal " + Quote(exe)).exit_code, 0);
  struct stat info;
  ASSERT_EQ(stat(exe.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0751u);
  Outcome leftovers = Shell("ls " + Quote(*dir_) + " | grep -c sealing-");
  EXPECT_EQ(leftovers.output, "0\n");
}

struct BadInput {
  const char* name;
  std::string content;  // written to the file; absent when `missing`
  bool missing;
  int exit_code;
  const char* message;
};

TEST_F(SealToolTest, BadInputGetsAClearErrorAndStaysUnchanged) {
  const BadInput inputs[] = {
      {"a text file", std::string(20, 'x') + " is not a program, just a long enough line of text\n",
       false, 1, "no MZ signature"},
      {"an empty file", "", false, 1, "too short for a DOS header"},
      {"a missing file", "", true, 2, "cannot read"},
  };
  for (const BadInput& input : inputs) {
    std::string path = Path(std::string("bad-") + std::to_string(&input - inputs));
    if (!input.missing) std::ofstream(path, std::ios::binary) << input.content;
    Outcome seal = Tool("seal " + Quote(path));
    EXPECT_EQ(seal.exit_code, input.exit_code) << input.name << ": " << seal.output;
    EXPECT_NE(seal.output.find(input.message), std::string::npos)
        << input.name << ": " << seal.output;
    if (!input.missing) {
      std::vector<char> after = ReadFile(path);
      EXPECT_EQ(std::string(after.begin(), after.end()), input.content) << input.name;
    }
    Outcome verify = Tool("--verify " + Quote(path));
    EXPECT_EQ(verify.exit_code, input.exit_code) << input.name << ": " << verify.output;
  }
}

TEST_F(SealToolTest, ResourceIsComparedWithTheGivenFileByteForByte) {
  std::vector<char> payload = ReadFile(Path("kvx.cok"));
  std::vector<char> changed = payload;
  changed[1000] ^= 0x40;
  WriteFile(Path("changed.cok"), changed);
  std::vector<char> longer = payload;
  longer.push_back('x');
  WriteFile(Path("longer.cok"), longer);
  const struct {
    const char* args;
    int exit_code;
    const char* words;
  } rows[] = {
      {"COK KVX kvx.cok", 0, "5000 bytes, identical to"},
      {"cok kvx kvx.cok", 0, "identical to"},
      {"COK KVX changed.cok", 1, "first at byte 1000"},
      {"COK KVX longer.cok", 1, "it holds 5000 bytes, the file 5001"},
      {"COK KVY kvx.cok", 1, "no resource COK/KVY"},
      {"COK KVX missing.cok", 2, "cannot be read"},
      {"COK KVX", 0, "5000 bytes at offset"},
  };
  for (const auto& row : rows) {
    std::string args = row.args;
    size_t file = args.find(".cok");
    if (file != std::string::npos) {
      size_t start = args.rfind(' ', file) + 1;
      args = args.substr(0, start) + Quote(Path(args.substr(start)));
    }
    Outcome run = Tool("resource " + Quote(Path("res.exe")) + " " + args);
    EXPECT_EQ(run.exit_code, row.exit_code) << row.args << ": " << run.output;
    EXPECT_NE(run.output.find(row.words), std::string::npos) << row.args << ": " << run.output;
  }
  Outcome text = Tool("resource " + Quote(Path("kvx.cok")) + " COK KVX");
  EXPECT_EQ(text.exit_code, 1) << text.output;
}

TEST_F(SealToolTest, VerifyNamesTheCheckThatFailed) {
  std::string exe = Fresh("x86_64", "checks.exe");
  ASSERT_EQ(Tool("seal " + Quote(exe)).exit_code, 0);
  std::string signed_exe = Path("checks-signed.exe");
  ASSERT_EQ(Sign(exe, signed_exe).exit_code, 0);
  const std::vector<char> sealed = ReadFile(exe), signed_bytes = ReadFile(signed_exe);
  const uint32_t pe =
      static_cast<uint8_t>(sealed[0x3C]) | (static_cast<uint8_t>(sealed[0x3D]) << 8);
  const size_t checksum = pe + 24 + 64;
  const size_t certificate_entry = pe + 24 + 112 + 4 * 8;  // PE32+
  uint32_t table = 0;
  for (int i = 3; i >= 0; --i)
    table = (table << 8) | static_cast<uint8_t>(signed_bytes[certificate_entry + i]);
  const struct {
    const char* name;
    const std::vector<char>* base;
    size_t offset;  // of the byte changed; 0 for none
    int exit_code;
    const char* words;
  } rows[] = {
      {"sealed", &sealed, 0, 0, "sealed, verified: PE32+ console, seal over"},
      {"sealed and signed", &signed_bytes, 0, 0, "in 1 well-formed entry"},
      {"CheckSum changed", &sealed, checksum, 1, "distorted: wrong CheckSum: the header says"},
      {"seal changed", &sealed, 0x1C, 1, "distorted: seal mismatch"},
      {"code changed", &sealed, sealed.size() / 2, 1, "distorted: seal mismatch"},
      {"signature entry's revision changed", &signed_bytes, table + 5, 1,
       "distorted: signature table malformed: a certificate entry has an unknown revision"},
  };
  for (const auto& row : rows) {
    std::vector<char> bytes = *row.base;
    if (row.offset != 0) bytes[row.offset] ^= 0x11;
    WriteFile(Path("check.exe"), bytes);
    Outcome run = Tool("--verify " + Quote(Path("check.exe")));
    EXPECT_EQ(run.exit_code, row.exit_code) << row.name << ": " << run.output;
    EXPECT_NE(run.output.find(row.words), std::string::npos) << row.name << ": " << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << row.name;
  }
  std::vector<char> blank = sealed;
  std::fill(blank.begin() + 0x1C, blank.begin() + 0x3C, 0);
  WriteFile(Path("check.exe"), blank);
  Outcome run = Tool("--verify " + Quote(Path("check.exe")));
  EXPECT_NE(run.output.find("distorted: no seal"), std::string::npos) << run.output;
}

TEST_F(SealToolTest, UsageErrorsExitWith2) {
  for (const char* args : {"", "seal", "verify x", "--verify", "seal a b"}) {
    Outcome run = Tool(args);
    EXPECT_EQ(run.exit_code, 2) << args;
    EXPECT_NE(run.output.find("usage:"), std::string::npos) << args;
  }
}

}  // namespace
}  // namespace kestrane
