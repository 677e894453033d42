// The installer's check of its own file against the seal the package build stored in it.
#pragma once

namespace kestrane {

// What the user was told about the installer's own file, so that the run knows how it ends.
enum class OwnFileVerdict { kPassed, kUnreadable, kDistorted };

// Recomputes the seal of the running module's file and compares it with the stored one.
// Reports "Failed to check up the package file!" (kUnreadable) or "The package file has been
// distorted!\r\nVirus?" (kDistorted) before returning; nothing is shown on kPassed.
OwnFileVerdict VerifyOwnFile();

}  // namespace kestrane
