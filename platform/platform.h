// The one place that knows which platform the program is built for.
//
// On Windows this is the system's own API. Everywhere else it is the
// in-memory stand-in, which declares the same types, constants and
// narrow-character functions under the same names, so that the code above
// this seam compiles unchanged on both.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The native calls' result, which <windows.h> leaves to the native headers.
typedef LONG NTSTATUS;
#else
#include "platform/host/host_windows.h"
#endif

// The native deletion of the key a handle holds, whatever it is (a registry
// link included), and the fold of a native result into an error code. Both
// are exported by "ntdll" and looked up at run time.
typedef NTSTATUS(WINAPI* NtDeleteKeyFunction)(HANDLE key);
typedef ULONG(WINAPI* RtlNtStatusToDosErrorFunction)(NTSTATUS status);
