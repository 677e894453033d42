// SHA-256 (FIPS 180-4) for the installer's seal: a portable implementation and, on x86
// processors that have them, the SHA extensions, chosen at run time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrane {

using Sha256Digest = std::array<uint8_t, 32>;

// Which compression function hashes the blocks.
enum class Sha256Engine {
  kAuto,      // the SHA extensions when the processor has them, else portable
  kPortable,  // plain C++
  kShaNi,     // x86 SHA extensions; only valid when Sha256HasShaNi() is true
};

// Returns true when this processor (and this build) can run the SHA-extension path.
bool Sha256HasShaNi();

// Incremental hash: Update any number of times with chunks of any size, then Finish once.
class Sha256 {
 public:
  // kShaNi on a processor without the extensions falls back to the portable path, so a
  // caller can never reach an illegal instruction; engine() tells which one runs.
  explicit Sha256(Sha256Engine engine = Sha256Engine::kAuto);

  void Update(const uint8_t* data, size_t size);
  // Returns the digest of everything passed to Update. The object must not be used after.
  Sha256Digest Finish();

  Sha256Engine engine() const { return engine_; }

 private:
  using CompressFn = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);

  Sha256Engine engine_;
  CompressFn compress_;
  uint32_t state_[8];
  uint64_t total_bytes_ = 0;
  uint8_t pending_[64];
  size_t pending_size_ = 0;
};

// One-shot convenience over Sha256.
Sha256Digest Sha256Of(const uint8_t* data, size_t size, Sha256Engine engine = Sha256Engine::kAuto);

}  // namespace kestrane
