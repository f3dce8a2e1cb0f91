// Where a seed's registry and files are made on this build, emptied before
// each seed: on the host the stand-in itself; on Windows a key of its own
// that stands in for HKEY_LOCAL_MACHINE for the whole process, whose
// "Software\Classes" stands in for HKEY_CLASSES_ROOT, an empty one for
// HKEY_CURRENT_USER, and a directory of its own.
#pragma once

#include <cstdint>

#include "fidelity/registry_generator.h"

namespace fidelity {

Place BeginSeed(uint32_t seed);
// Leaves nothing of the last seed behind (on Windows, also the overrides).
void EndAll();

}  // namespace fidelity
