// Writing keys, values and links through the platform's own calls, for the
// tests and tools that build registries (on the stand-in and on Windows
// alike). Each returns the platform's status.
#pragma once

#include <string>

#include "platform/platform.h"

namespace helpers {

// The machine's classes (HKEY_LOCAL_MACHINE\Software\Classes, which
// HKEY_CLASSES_ROOT shows) as the kernel names them, as a link's target
// names a key.
extern const char kMachineClassesKernelPath[];

// Creates or opens `path` below `parent` with full access; `*key` (when
// given) receives the handle, else it is closed.
LONG CreateKey(HKEY parent, const std::string& path, HKEY* key = nullptr);
// Stores `bytes` exactly as given in the value `name` of `key` (a string
// type without a NUL at its end is stored without one).
LONG WriteValue(HKEY key, const std::string& name, DWORD type, const std::string& bytes);
// The same in the key `path` below `parent`, created when missing.
LONG WriteValue(HKEY parent, const std::string& path, const std::string& name, DWORD type,
                const std::string& bytes);
// A REG_SZ value with its terminator.
LONG WriteString(HKEY key, const std::string& name, const std::string& text);
// A registry link `path` below `parent` that leads to `kernelTarget`, a key
// in the kernel's form ("\Registry\Machine\..."), which need not exist.
LONG MakeLink(HKEY parent, const std::string& path, const std::string& kernelTarget);

}  // namespace helpers
