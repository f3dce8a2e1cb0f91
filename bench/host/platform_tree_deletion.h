// For the benchmarks only: the calls a platform tree deletion in the manner
// of RegDeleteTreeA makes, on the stand-in, which has no such call. Each key
// is opened (following links), asked for its name lengths, walked at index
// 0 until its sub-keys are gone, and deleted through its handle. The program
// never uses it; it only gives the count beside DeleteKeyTree's.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace bench {

// Deletes `subKey` below `parent`; counts in `*infoQueries` the name-length
// queries that the stand-in cannot take (one a key). Returns the platform's
// code of the first failure, or 0.
LONG PlatformStyleDeleteTree(HKEY parent, const char* subKey, uint64_t* infoQueries);

}  // namespace bench
