#include "startup/pseudo_random.h"

namespace kestrane {

PseudoRandom g_processRandom;

uint32_t PseudoRandom::Next32() {
  // SplitMix64: a Weyl sequence through a strong mixer, so that nearby seeds (clock readings
  // taken a moment apart) still give unrelated sequences.
  state_ += 0x9E3779B97F4A7C15ull;
  uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<uint32_t>(z >> 32);
}

uint32_t PseudoRandom::Below(uint32_t bound) {
  if (bound == 0) return 0;
  // Multiply-and-shift maps 32 random bits onto [0, bound); the few products whose low half
  // falls below 2^32 mod bound would favour small numbers and are drawn again. The chance of
  // a redraw is below bound / 2^32, so the bound on attempts is never reached in practice.
  const uint32_t threshold = static_cast<uint32_t>(-bound) % bound;
  uint64_t product = 0;
  for (int attempt = 0; attempt < 64; ++attempt) {
    product = static_cast<uint64_t>(Next32()) * bound;
    if (static_cast<uint32_t>(product) >= threshold) break;
  }
  return static_cast<uint32_t>(product >> 32);
}

}  // namespace kestrane
