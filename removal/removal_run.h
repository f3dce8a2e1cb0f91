// The removal run: the program's whole course of work. In the machine's
// classes and then in the running user's, it opens the class root, finds
// the filter class manager, removes the filter's instance entry and class
// key (and, in the machine's, its server file), and closes every key it
// opened.
#pragma once

#include "platform/platform.h"
#include "registry/registry_key.h"

// Class identifier of the filter that the program removes.
extern const char TargetFilterClsid[];
// Default value that marks the class key of the filter class manager.
extern const char ClassManagerName[];

typedef DWORD(WINAPI* GetLongPathNameFunction)(LPCSTR, LPSTR, DWORD);
// The platform's long-path function, or null where the system lacks it.
// Set at the start of every run.
extern GetLongPathNameFunction pfnGetLongPathName;

// Runs the whole removal. Always returns 0, the process's exit status.
int RunRemoval();

// Whether `value` equals `expected`, with the letters A to Z folded to a to
// z on both sides and every other byte compared unchanged.
bool EqualsIgnoringAsciiCase(const char* value, const char* expected);

// Walks the sub-keys of `clsidKey` in enumeration order, opening each as
// itself with `probeKey`, and copies into `managerClsid` the name of the first whose
// default value is ClassManagerName; empty when none is. The buffers are
// the run's, each kNameBufferLength long.
void FindClassManager(RegistryKey& clsidKey, RegistryKey& probeKey, char* nameBuffer,
                      char* valueBuffer, char* managerClsid);
