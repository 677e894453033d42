#include "seal/sha256.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define KESTRANE_SHA_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace kestrane {
namespace {

constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

alignas(16) constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline uint32_t Choose(uint32_t e, uint32_t f, uint32_t g) { return g ^ (e & (f ^ g)); }
inline uint32_t Majority(uint32_t a, uint32_t b, uint32_t c) { return (a & b) ^ (c & (a ^ b)); }
inline uint32_t BigSigma0(uint32_t a) { return Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22); }
inline uint32_t BigSigma1(uint32_t e) { return Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25); }

// One round with the working variables renamed instead of moved: the caller rotates the
// argument order, so eight rounds in a row need no copies.
inline void Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f,
                  uint32_t g, uint32_t& h, uint32_t constant_plus_word) {
  h += BigSigma1(e) + Choose(e, f, g) + constant_plus_word;
  d += h;
  h += BigSigma0(a) + Majority(a, b, c);
}

void CompressPortable(uint32_t state[8], const uint8_t* blocks, size_t count) {
  for (size_t block = 0; block < count; ++block, blocks += 64) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian32(blocks + 4 * t);
    for (int t = 16; t < 64; ++t) {
      uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
      uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; t += 8) {
      Round(a, b, c, d, e, f, g, h, kRoundConstants[t] + w[t]);
      Round(h, a, b, c, d, e, f, g, kRoundConstants[t + 1] + w[t + 1]);
      Round(g, h, a, b, c, d, e, f, kRoundConstants[t + 2] + w[t + 2]);
      Round(f, g, h, a, b, c, d, e, kRoundConstants[t + 3] + w[t + 3]);
      Round(e, f, g, h, a, b, c, d, kRoundConstants[t + 4] + w[t + 4]);
      Round(d, e, f, g, h, a, b, c, kRoundConstants[t + 5] + w[t + 5]);
      Round(c, d, e, f, g, h, a, b, kRoundConstants[t + 6] + w[t + 6]);
      Round(b, c, d, e, f, g, h, a, kRoundConstants[t + 7] + w[t + 7]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#if KESTRANE_SHA_X86

// The SHA extensions keep the eight working variables in two registers ordered ABEF and
// CDGH; each SHA256RNDS2 runs two rounds. On 32-bit Windows the stack is only 4-byte
// aligned on entry, so the function realigns it for its 16-byte spills.
#if defined(__i386__)
#define KESTRANE_REALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define KESTRANE_REALIGN_STACK
#endif

__attribute__((target("sha,sse4.1"))) KESTRANE_REALIGN_STACK void CompressShaNi(
    uint32_t state[8], const uint8_t* blocks, size_t count) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  const __m128i* k = reinterpret_cast<const __m128i*>(kRoundConstants);

  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (size_t block = 0; block < count; ++block, blocks += 64) {
    const __m128i abef_start = abef;
    const __m128i cdgh_start = cdgh;
    // w[i % 4] holds message words 4i..4i+3 of the schedule.
    __m128i w[4];
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) {
      if (i < 4) {
        w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                                byte_swap);
      } else {
        __m128i x = _mm_sha256msg1_epu32(w[i % 4], w[(i + 1) % 4]);
        x = _mm_add_epi32(x, _mm_alignr_epi8(w[(i + 3) % 4], w[(i + 2) % 4], 4));
        w[i % 4] = _mm_sha256msg2_epu32(x, w[(i + 3) % 4]);
      }
      __m128i words_and_constants = _mm_add_epi32(w[i % 4], _mm_load_si128(k + i));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words_and_constants);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(words_and_constants, 0x0E));
    }
    abef = _mm_add_epi32(abef, abef_start);
    cdgh = _mm_add_epi32(cdgh, cdgh_start);
  }

  __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

bool DetectShaNi() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0 || eax < 7) return false;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  constexpr unsigned kSsse3 = 1u << 9, kSse41 = 1u << 19;
  if ((ecx & kSsse3) == 0 || (ecx & kSse41) == 0) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  constexpr unsigned kSha = 1u << 29;
  return (ebx & kSha) != 0;
}

#endif  // KESTRANE_SHA_X86

}  // namespace

bool Sha256HasShaNi() {
#if KESTRANE_SHA_X86
  static const bool available = DetectShaNi();
  return available;
#else
  return false;
#endif
}

Sha256::Sha256(Sha256Engine engine) {
  bool hardware = engine != Sha256Engine::kPortable && Sha256HasShaNi();
#if KESTRANE_SHA_X86
  compress_ = hardware ? CompressShaNi : CompressPortable;
#else
  compress_ = CompressPortable;
#endif
  engine_ = hardware ? Sha256Engine::kShaNi : Sha256Engine::kPortable;
  std::memcpy(state_, kInitialState, sizeof state_);
}

void Sha256::Update(const uint8_t* data, size_t size) {
  if (size == 0) return;
  total_bytes_ += size;
  if (pending_size_ > 0) {
    size_t take = sizeof pending_ - pending_size_;
    if (take > size) take = size;
    std::memcpy(pending_ + pending_size_, data, take);
    pending_size_ += take;
    data += take;
    size -= take;
    if (pending_size_ < sizeof pending_) return;
    compress_(state_, pending_, 1);
    pending_size_ = 0;
  }
  size_t whole_blocks = size / 64;
  if (whole_blocks > 0) {
    compress_(state_, data, whole_blocks);
    data += whole_blocks * 64;
    size -= whole_blocks * 64;
  }
  if (size > 0) {
    std::memcpy(pending_, data, size);
    pending_size_ = size;
  }
}

Sha256Digest Sha256::Finish() {
  uint64_t bit_length = total_bytes_ * 8;
  uint8_t tail[128] = {};
  std::memcpy(tail, pending_, pending_size_);
  tail[pending_size_] = 0x80;
  // The length goes into the last 8 bytes of one block, or of a second one when the
  // pending bytes and the 0x80 marker leave fewer than 8 bytes free.
  size_t tail_size = pending_size_ + 1 + 8 <= 64 ? 64 : 128;
  for (int i = 0; i < 8; ++i) {
    tail[tail_size - 1 - i] = static_cast<uint8_t>(bit_length >> (8 * i));
  }
  compress_(state_, tail, tail_size / 64);
  pending_size_ = 0;

  Sha256Digest digest;
  for (int i = 0; i < 8; ++i) {
    digest[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
    digest[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
    digest[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
    digest[4 * i + 3] = static_cast<uint8_t>(state_[i]);
  }
  return digest;
}

Sha256Digest Sha256Of(const uint8_t* data, size_t size, Sha256Engine engine) {
  Sha256 hash(engine);
  hash.Update(data, size);
  return hash.Finish();
}

}  // namespace kestrane
