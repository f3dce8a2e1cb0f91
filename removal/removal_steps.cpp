#include "removal/removal_steps.h"

#include "removal/removal_run.h"
#include "removal/server_file.h"

namespace {

// Whether `path` is fully qualified with a drive letter ("C:\..."). Any
// other form names no file that is known to be the filter's: a relative one
// is completed from the current folder of the process that uses it (of the
// drive, for "C:name"; the current drive's root, for "\name"), while the
// system's loader finds a relative server by its own search order; and the
// final path of a file on a share ("\\server\...") is never reported as
// the path that names it, so such a file stays wherever it is checked.
bool IsFullyQualified(const char* path) {
  char letter = static_cast<char>(path[0] | 0x20);  // a to z in either case
  return letter >= 'a' && letter <= 'z' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// The instance entry below the class manager's "Instance" key, which is
// opened through the manager's own handle that the lookup holds.
void RemoveInstanceEntry(RegistryKey& probeKey, const char* managerClsid, RegistryKey& workKey) {
  if (managerClsid[0] == 0) return;
  // Only the base of the deletion: the entry is opened and deleted through
  // handles of its own, and its own protection decides. The "Instance" key
  // of a protected class manager lets administrators read it, no more.
  workKey.OpenOrdinary(probeKey.Handle(), "Instance", KEY_READ);
  if (workKey.Handle()) workKey.DeleteKeyTree(TargetFilterClsid);
}

// The server file named by the default value of the "InprocServer32" key
// below the machine's class key that `classKey` holds, opened as itself with
// full access: a registration that may not be changed keeps its file. A
// value of another type than REG_SZ names no file: an expandable string
// would be expanded with this process's environment, which the user who
// started it sets.
void RemoveServerFile(RegistryKey& classKey, char* valueBuffer, char* longPathBuffer) {
  RegistryKey serverKey;
  serverKey.OpenOrdinary(classKey.Handle(), "InprocServer32", KEY_ALL_ACCESS);
  if (!serverKey.Handle()) return;
  const char* storedPath = serverKey.QueryStringValue("", "", valueBuffer, kNameBufferLength);
  if (!IsFullyQualified(storedPath)) return;
  // A result of kNameBufferLength or more is the size the long form needs;
  // the buffer was left unfilled, so the stored path is used instead.
  DWORD length =
      pfnGetLongPathName ? pfnGetLongPathName(storedPath, longPathBuffer, kNameBufferLength) : 0;
  if (length == 0 || length >= kNameBufferLength)
    CopyString(longPathBuffer, kNameBufferLength, storedPath);
  DeleteServerFile(longPathBuffer);
}

}  // namespace

void RemoveFilter(ClassTree tree, RegistryKey& clsidKey, RegistryKey& probeKey,
                  const char* managerClsid, RegistryKey& workKey, char* valueBuffer,
                  char* longPathBuffer) {
  RemoveInstanceEntry(probeKey, managerClsid, workKey);

  workKey.Open(clsidKey.Handle(), TargetFilterClsid, KEY_ALL_ACCESS, REG_OPTION_OPEN_LINK);
  // Not registered, or a class key that may not be changed: it stays, and
  // so does the file it names.
  if (!workKey.Handle()) return;

  // A class key that is a registry link names no file, and goes as a link.
  if (tree == ClassTree::Machine && IsOrdinaryKey(workKey.Handle()))
    RemoveServerFile(workKey, valueBuffer, longPathBuffer);

  clsidKey.DeleteKeyTree(TargetFilterClsid);
}
