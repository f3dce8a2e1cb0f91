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
// The native calls' types (NTSTATUS, UNICODE_STRING, IO_STATUS_BLOCK, ...),
// which <windows.h> leaves to the native headers.
#include <winternl.h>
#ifndef STATUS_SUCCESS
// A native call's success, which only the driver kit's headers define.
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#endif
#else
#include "platform/host/host_windows.h"
#endif

// The native deletion of the key a handle holds, whatever it is (a registry
// link included), and the fold of a native result into an error code. Both
// are exported by "ntdll" and looked up at run time.
typedef NTSTATUS(WINAPI* NtDeleteKeyFunction)(HANDLE key);
typedef ULONG(WINAPI* RtlNtStatusToDosErrorFunction)(NTSTATUS status);
// The native query of an object's name (for a file: its name on its
// device), and the native setting of a file's information through its
// handle. Both are exported by "ntdll" and looked up at run time.
typedef NTSTATUS(WINAPI* NtQueryObjectFunction)(HANDLE object, OBJECT_INFORMATION_CLASS kind,
                                                PVOID information, ULONG length,
                                                PULONG returnLength);
typedef NTSTATUS(WINAPI* NtSetInformationFileFunction)(HANDLE file, PIO_STATUS_BLOCK status,
                                                       PVOID information, ULONG length,
                                                       FILE_INFORMATION_CLASS kind);
