// The deletion of the registered server file: through a handle whose final
// path was checked where the system can report one, by name elsewhere.
#pragma once

// Deletes the file at `longPath` (the registered path in its long form, at
// most kNameBufferLength bytes with its terminator). Where kernel32 has
// GetFinalPathNameByHandleA and SetFileInformationByHandle, the file is
// opened as itself with delete access and deleted through that handle only
// when its final path is the full form of `longPath` (or, under WOW64, that
// path moved from the system folder to the 32-bit one); a path that leads
// elsewhere through a junction or link leaves the file. Without those
// functions, DeleteFileA on `longPath`. Every failure leaves the file.
void DeleteServerFile(const char* longPath);
