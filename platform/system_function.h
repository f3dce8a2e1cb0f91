// Functions of the system's own modules that not every Windows version
// exports, found at run time, so that the program imports only what
// Windows XP has and runs on without what a system lacks.
#pragma once

#include "platform/platform.h"

// The function `name` of `module` as a `Function` pointer, or null where
// the module (null when it was not found) does not export it.
template <typename Function>
Function FindSystemFunction(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddress(module, name);
  // Through a generic function pointer: the signatures differ.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}
