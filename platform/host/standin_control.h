// Control interface of the in-memory platform stand-in, for host tests,
// fuzzing and benchmarks only. The program itself never includes this file.
//
// Key paths here are relative to the machine's classes, which
// HKEY_CLASSES_ROOT shows where the user has no classes of his own, levels
// separated by a backslash; missing levels are created. Names of any length are accepted,
// also those the real registry would refuse, so that tests can build states
// the program must survive.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/host_windows.h"

namespace standin {

// The platform functions the program calls, for call counting and faults.
enum class Call {
  Any,  // every program-facing call below, counted together
  RegOpenKeyExA,
  RegCloseKey,
  RegEnumKeyExA,
  RegEnumValueA,
  RegQueryValueExA,
  RegDeleteValueA,
  RegDeleteKeyA,
  GetModuleHandleA,
  GetProcAddress,
  DeleteFileA,
  GetLongPathNameA,
  NtDeleteKey,  // its faults' `error` is the NTSTATUS it returns
  CreateFileA,
  GetFullPathNameA,
  GetFinalPathNameByHandleA,
  SetFileInformationByHandle,
  GetSystemDirectoryA,
  GetSystemWow64DirectoryA,
  SetProcessMitigationPolicy,
  RegQueryInfoKeyA,
  QueryDosDeviceA,
  NtQueryObject,         // its faults' `error` is the NTSTATUS it returns
  NtSetInformationFile,  // the same
  WideCharToMultiByte,
  Count
};

const char* CallName(Call call);

// Empties the registry and the file table, closes every handle, clears
// faults, counters, the hook and the mitigation policies, makes every
// kernel32 function and the native key deletion present, and the system a
// 32-bit one.
void Reset();

// Registry building.
void CreateKey(const std::string& path);
void SetValue(const std::string& keyPath, const std::string& name, DWORD type,
              const std::string& bytes);
// A REG_SZ value, stored with its terminating NUL unless told otherwise.
void SetString(const std::string& keyPath, const std::string& name, const std::string& text,
               bool withTerminator = true);
// Removes a key and everything below it, as another process might.
void RemoveKey(const std::string& path);
bool KeyExists(const std::string& path);
// A symbolic link at `path`, whose target is the registry path `target` in
// the kernel's form: below kClassesRootNtPath it leads to the key of that
// path here, anywhere else nowhere (dangling). A key already at `path` goes
// first with everything below it, as another party would delete it: a link
// is always a new key. Opening through it follows it, unless
// REG_OPTION_OPEN_LINK asks for the link itself at the last level. A link
// has no sub-keys of its own: what this interface creates below one goes
// to its target (nowhere when it dangles); otherwise it never follows.
extern const char kClassesRootNtPath[];
void CreateLink(const std::string& path, const std::string& target);
// The stored path of the key that `path` reaches when opened the way the
// program opens it: links followed at every level, at the last one only
// when `followLast`. False when it leads nowhere.
bool ResolvePath(const std::string& path, bool followLast, std::string* resolved);
// A key protected by its security descriptor: a DACL that grants `allowed`
// and an owner outside the caller's token, as the system's installer leaves
// the keys it owns. Wine and Windows then agree: an open asking for any
// right beyond `allowed` fails with ERROR_ACCESS_DENIED, and so does
// deleting it unless `allowed` holds DELETE. (An owner in the token gets
// READ_CONTROL and WRITE_DAC besides, and under Wine DELETE too; the
// program asks for neither of the first two.) Only the key itself: a key
// below it, opened by a path through it or through a handle on it, keeps
// its own protection (traversal is not checked).
void DenyAccess(const std::string& keyPath, REGSAM allowed = 0);
// Lifts that protection again.
void AllowAccess(const std::string& keyPath);
// Deleting this value fails with ERROR_ACCESS_DENIED.
void ProtectValue(const std::string& keyPath, const std::string& name);

// The whole registry as text, one line per key and value, in enumeration
// order, for before/after comparison.
std::string Dump();

// The running user's own classes, HKEY_CURRENT_USER\Software\Classes: the
// calls above (and their paths) shape and read the machine's classes,
// HKEY_LOCAL_MACHINE\Software\Classes; these the user's. HKEY_CLASSES_ROOT
// shows the user's over the machine's (platform/host/README.md); a merged
// view does not follow the user's links.
void CreateUserKey(const std::string& path);
void SetUserValue(const std::string& keyPath, const std::string& name, DWORD type,
                  const std::string& bytes);
// A REG_SZ value stored with its terminating NUL.
void SetUserString(const std::string& keyPath, const std::string& name, const std::string& text);
bool UserKeyExists(const std::string& path);
// The kernel's path of the user's classes (HKEY_USERS\<SID>_Classes, which
// HKEY_CURRENT_USER\Software\Classes is), for link targets there.
extern const char kUserClassesNtPath[];
// As CreateLink, in the user's classes; the target may lie in either tree.
void CreateUserLink(const std::string& path, const std::string& target);
// As DenyAccess, on the user's copy of the key.
void DenyUserAccess(const std::string& keyPath, REGSAM allowed = 0);
// The user's classes as Dump shows the machine's.
std::string DumpUser();

// Handles the program holds open right now, keys and files (predefined
// roots excluded).
size_t OpenHandleCount();
// RegCloseKey and CloseHandle calls on a handle that was not open: double
// or stray closes.
size_t InvalidCloseCount();
// Calls of a function since the last Reset.
uint64_t CallCount(Call call);

// The n-th call (counting from 1) of `call` made after this point fails with
// `error` and has no other effect. Several faults may be armed at once.
void FailCall(Call call, uint64_t n, DWORD error);
void ClearFaults();
// Runs before every counted call; may change the registry through this
// interface (never through the platform functions).
void SetCallHook(std::function<void(Call)> hook);

// Faults tied to what a call acts on, not to when it is made: every call of
// `call` on the key stored at `keyPath` fails with `error` and has no other
// effect, for as long as the fault stays armed (until ClearFaults or Reset),
// as a protection would. For a value call, only those on `valueName` when
// one is given. For RegOpenKeyExA the key is the one the open reaches, and
// with `allowed` not 0 only opens asking for a right beyond `allowed` fail.
// Not for RegCloseKey.
void FailOnKey(Call call, const std::string& keyPath, DWORD error,
               const std::string& valueName = std::string(), REGSAM allowed = 0);
// Runs after every successful RegOpenKeyExA, given the stored path of the
// key opened; may change the registry through this interface.
void SetOpenHook(std::function<void(const std::string& keyPath)> hook);

// Whether GetProcAddress finds the long-path function in "kernel32".
void SetLongPathFunctionPresent(bool present);
// Whether GetProcAddress finds NtDeleteKey in "ntdll" (RtlNtStatusToDosError
// is always there).
void SetNtDeleteKeyPresent(bool present);
// Whether GetProcAddress finds `name` in "ntdll": NtDeleteKey, NtQueryObject,
// NtSetInformationFile. All are present after Reset, as on every system
// since Windows NT.
void SetNtdllFunctionPresent(const std::string& name, bool present);
// Whether GetProcAddress finds `name` in "kernel32": GetLongPathNameA,
// GetFinalPathNameByHandleA, SetFileInformationByHandle,
// GetSystemWow64DirectoryA, SetProcessMitigationPolicy. All are present
// after Reset, as on a current system; Windows XP lacks all but the first
// and GetSystemWow64DirectoryA.
void SetKernel32FunctionPresent(const std::string& name, bool present);
// The (policy, flags) pairs SetProcessMitigationPolicy accepted, in order.
const std::vector<std::pair<DWORD, DWORD>>& MitigationPolicies();
// The folders GetSystemDirectoryA and GetSystemWow64DirectoryA report;
// `wow64` empty makes the latter fail with ERROR_CALL_NOT_IMPLEMENTED, as on
// a 32-bit system (the default, with "C:\Windows\System32").
void SetSystemFolders(const std::string& system, const std::string& wow64);

// The device that QueryDosDeviceA reports for `drive` ("C:", any letter
// case) and that NtQueryObject puts before the path of a file on it; an
// empty `device` takes the drive away. After Reset, "C:" is
// "\\Device\\HarddiskVolume1" and no other drive exists.
void SetDriveDevice(const std::string& drive, const std::string& device);

// File table. Paths compare without regard to letter case. Every file call
// and control below follows folder links above a path's last level. A
// path's bytes are characters of the stand-in's code page (Latin-1), but a
// UTF-8 sequence in it stands for one character beyond the code page, as a
// native name holds it (NtQueryObject).
void AddFile(const std::string& path);
// Replaces the folder at `path`, and everything below it, with a link to
// the folder `target`, as a junction or a symbolic link would: a path
// through it reaches the file of the same name below `target`, and a
// handle opened so reports that file's path as its final path.
void LinkFolder(const std::string& path, const std::string& target);
// `shortPath` names the same file as `longPath` (which is added if missing).
void AddShortName(const std::string& shortPath, const std::string& longPath);
// DeleteFileA on this file fails with `error` (read-only, in use, ...), and
// so does its deletion through a handle: ERROR_SHARING_VIOLATION (open
// without delete sharing elsewhere) at an open asking for DELETE, any other
// error (read-only, a loaded module) at SetFileInformationByHandle.
void LockFile(const std::string& path, DWORD error);
bool FileExists(const std::string& path);
// The names DeleteFileA was given, and those of files that CreateFileA
// opened with DELETE access, since the last Reset (calls failed by an armed
// fault excepted), in order: which name of a file the caller used.
const std::vector<std::string>& DeleteFileNames();
std::vector<std::string> Files();

}  // namespace standin
