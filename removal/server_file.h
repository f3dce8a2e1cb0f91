// The deletion of the registered server file: through a handle whose path
// on its volume was checked, with the calls each system has for it.
#pragma once

// Deletes the file at `longPath` (the registered path in its long form, at
// most kNameBufferLength bytes with its terminator). The file is opened as
// itself with delete access and deleted through that handle only when the
// path the system gives for the handle is the full form of `longPath` (or,
// under WOW64, that path moved from the system folder to the 32-bit one):
// on Vista and later the final path (GetFinalPathNameByHandleA), on Windows
// XP the file's name on its device (NtQueryObject) against the device of the
// path's drive letter (QueryDosDeviceA). A path that leads elsewhere through
// a junction or link leaves the file, and so does a system with neither set
// of calls. Every failure leaves the file.
void DeleteServerFile(const char* longPath);
