// The process's pseudo-random generator: seeded once from the clock by the start-up step, for
// anything that needs numbers that differ from run to run. Not for secrets.
#pragma once

#include <cstdint>

namespace kestrane {

class PseudoRandom {
 public:
  explicit PseudoRandom(uint64_t seed = 0) { Seed(seed); }

  // Restarts the sequence; equal seeds give equal sequences.
  void Seed(uint64_t seed) { state_ = seed; }
  // Returns the next 32 random bits.
  uint32_t Next32();
  // Returns a number from 0 to bound - 1, each equally likely; 0 when bound is 0.
  uint32_t Below(uint32_t bound);

 private:
  uint64_t state_;
};

// The generator the start-up step seeds.
extern PseudoRandom g_processRandom;

}  // namespace kestrane
