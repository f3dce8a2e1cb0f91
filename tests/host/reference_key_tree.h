// A plain tree deletion, for comparison only: every key taken apart in the
// order sub-keys, then named values, then the key, with what every tree
// deletion must keep: each pass ends (a successful deletion restarts the
// walk at index 0, a failed one is passed over), every key is opened
// without following a link and deleted through its own handle, a link is
// deleted as a link and never followed nor emptied of its value (held as
// itself it has no sub-keys, so walking it finds none), and a key that
// denies full access is not walked but still goes when it has no sub-keys.
// Written on the platform's calls alone, apart from the program's code.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace reference {

// Deletes `subKey` below `base` with everything below it; returns
// 0x80070000 | code of the key's last deletion (or of its failed open), or 0.
int32_t DeleteKeyTree(HKEY base, const char* subKey);

}  // namespace reference
