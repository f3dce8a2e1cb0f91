// The destructive steps of the removal run, taken once in each class tree
// after the lookup.
#pragma once

#include "registry/registry_key.h"

// The class tree a removal works in: the machine's, whose registration
// names the server file, or the running user's, which any program the user
// runs can write and whose registration never names a file to delete.
enum class ClassTree { Machine, User };

// Removes the filter from the class tree whose "CLSID" key `clsidKey`
// holds: its entry below the "Instance" key of the class manager named
// `managerClsid` (skipped when empty; `probeKey` then holds that manager's
// key), in the machine's tree the server file that its "InprocServer32"
// names (under the long form of the path where the system gives one, and
// only a fully qualified path), and its class key with everything below
// it. Every key is opened as itself relative to a key of the same tree, and
// none is walked through that is a registry link; `workKey` holds the
// "Instance" key, then the class key. The two buffers are the run's, each
// kNameBufferLength long. Every failure is ignored.
void RemoveFilter(ClassTree tree, RegistryKey& clsidKey, RegistryKey& probeKey,
                  const char* managerClsid, RegistryKey& workKey, char* valueBuffer,
                  char* longPathBuffer);
