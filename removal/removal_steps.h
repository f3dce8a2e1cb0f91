// The destructive steps of the removal run, taken once after the lookup.
#pragma once

#include "registry/registry_key.h"

// Removes the filter: its entry below the "Instance" key of the class
// manager named `managerClsid` (skipped when empty), the server file that
// the "InprocServer32" key of the machine's own registration names (under
// the long form of the path where the system gives one; never one that only
// the user's own classes name), and its class key below "CLSID" with
// everything below it. Every key is opened with `workKey`; the three buffers are the run's,
// each kNameBufferLength long. Every failure is ignored.
void RemoveFilter(const char* managerClsid, RegistryKey& workKey, char* nameBuffer,
                  char* valueBuffer, char* longPathBuffer);
