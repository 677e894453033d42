// The seal check of a file on disk, read through Win32 in fixed-size chunks.
#pragma once

#include "seal/seal.h"

namespace kestrane {

// Checks the seal of the file at `path` (wide, so that any name Windows can make opens),
// opened read-only while others may read and write it. Returns kReadFailed when the file
// cannot be opened or read, otherwise what VerifySeal finds. May throw std::bad_alloc for the
// read buffer.
SealReport CheckFileSeal(const wchar_t* path);

}  // namespace kestrane
