#include "seal/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrane {
namespace {

std::string Hex(const Sha256Digest& digest) {
  std::string text;
  char pair[3];
  for (uint8_t byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

const char* EngineName(Sha256Engine engine) {
  return engine == Sha256Engine::kShaNi ? "SHA extensions" : "portable";
}

// Every test runs once per engine; the SHA-extension run is skipped (and says so) on a
// processor without them.
class Sha256EngineTest : public ::testing::TestWithParam<Sha256Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Sha256Engine::kShaNi && !Sha256HasShaNi()) {
      GTEST_SKIP() << "this processor has no SHA extensions; only the portable path ran";
    }
    Sha256 probe(GetParam());
    ASSERT_EQ(probe.engine(), GetParam()) << "the requested engine did not run";
    RecordProperty("engine", EngineName(GetParam()));
  }
};

struct KnownAnswer {
  const char* name;
  std::string message;
  const char* digest;
};

// FIPS 180-2 appendix B and the NIST example values for SHA-256.
const KnownAnswer kKnownAnswers[] = {
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"896 bits",
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
     "nopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"one million a", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST_P(Sha256EngineTest, KnownAnswersOfFips180Match) {
  for (const KnownAnswer& answer : kKnownAnswers) {
    EXPECT_EQ(Hex(Sha256Of(Bytes(answer.message), answer.message.size(), GetParam())),
              answer.digest)
        << answer.name;
  }
}

TEST_P(Sha256EngineTest, OneMillionAFedInOddChunksMatches) {
  const std::string chunk(997, 'a');  // a prime: the chunks fall across block edges
  Sha256 hash(GetParam());
  size_t left = 1000000;
  while (left > 0) {
    size_t n = std::min(left, chunk.size());
    hash.Update(Bytes(chunk), n);
    left -= n;
  }
  EXPECT_EQ(Hex(hash.Finish()), kKnownAnswers[4].digest);
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = 12345;
  for (uint8_t& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

// Any split of a message into three chunks (empty ones included) gives the one-shot digest:
// the buffering of partial blocks is right at every boundary.
TEST_P(Sha256EngineTest, EverySplitIntoThreeChunksGivesTheSameDigest) {
  const std::vector<uint8_t> message = Pattern(200);
  const Sha256Digest whole = Sha256Of(message.data(), message.size(), GetParam());
  for (size_t first = 0; first <= message.size(); ++first) {
    for (size_t second = first; second <= message.size(); ++second) {
      Sha256 hash(GetParam());
      hash.Update(message.data(), first);
      hash.Update(message.data() + first, second - first);
      hash.Update(message.data() + second, message.size() - second);
      ASSERT_EQ(hash.Finish(), whole) << "split at " << first << " and " << second;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, Sha256EngineTest,
                         ::testing::Values(Sha256Engine::kPortable, Sha256Engine::kShaNi),
                         [](const ::testing::TestParamInfo<Sha256Engine>& info) {
                           return info.param == Sha256Engine::kShaNi ? "ShaNi" : "Portable";
                         });

// The two engines agree on every length across the padding edges (55, 56, 63, 64 bytes ...)
// and on multi-block inputs.
TEST(Sha256EnginesAgree, OnEveryLengthUpTo300Bytes) {
  if (!Sha256HasShaNi()) GTEST_SKIP() << "no SHA extensions: nothing to compare with";
  const std::vector<uint8_t> message = Pattern(300);
  for (size_t length = 0; length <= message.size(); ++length) {
    EXPECT_EQ(Sha256Of(message.data(), length, Sha256Engine::kPortable),
              Sha256Of(message.data(), length, Sha256Engine::kShaNi))
        << "length " << length;
  }
}

TEST(Sha256EngineChoice, AutoPicksTheExtensionsExactlyWhenTheProcessorHasThem) {
  Sha256 automatic;
  EXPECT_EQ(automatic.engine(), Sha256HasShaNi() ? Sha256Engine::kShaNi : Sha256Engine::kPortable);
  std::printf("[ info     ] SHA-256 engine on this processor: %s\n",
              EngineName(automatic.engine()));
}

}  // namespace
}  // namespace kestrane
