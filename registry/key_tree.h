// The two passes of the tree deletion (RegistryKey::DeleteKeyTree).
#pragma once

#include "platform/platform.h"

// Empties the key `subKey` below `parentKey` of all its sub-keys, each with
// its whole tree. Returns the status of the enumeration call that ended the
// pass (ERROR_NO_MORE_ITEMS when the key was walked to its end). The key is
// opened without following a link at its last level, and links met below it
// are never followed.
LONG DeleteAllSubKeys(HKEY parentKey, const char* subKey);

// Empties the key `subKey` below `parentKey` of all its named values; the
// unnamed default value is left to go with the key. Returns as above. The
// key is opened as above; DeleteKeyTree never empties a link of its values.
LONG DeleteAllValues(HKEY parentKey, const char* subKey);
