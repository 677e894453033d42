// The fixed-offset version readers of version_probes.h for a file named inside the held
// install folder, opened relative to its handle rather than by a full path.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kestrane {

// The same numbers as ReadPakVersion, ReadCokVersion and Read3bsVersion, and the same 0 for
// a file that is missing, a folder, held open by another handle or too short.
int32_t ReadPakVersionIn(HANDLE folder, const std::u16string& name);
int32_t ReadCokVersionIn(HANDLE folder, const std::u16string& name);
int32_t Read3bsVersionIn(HANDLE folder, const std::u16string& name);

}  // namespace kestrane
