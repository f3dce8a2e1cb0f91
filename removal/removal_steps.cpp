#include "removal/removal_steps.h"

#include <cstring>

#include "removal/removal_run.h"
#include "removal/server_file.h"

namespace {

// Composes "<name><suffix>" into `out` (kNameBufferLength bytes). Returns
// false, leaving `out` empty, when the path would not fit.
bool ComposeKeyPath(char* out, const char* name, const char* suffix) {
  size_t nameLength = std::strlen(name);
  size_t suffixLength = std::strlen(suffix);
  if (nameLength + suffixLength >= kNameBufferLength) {
    out[0] = 0;
    return false;
  }
  std::memcpy(out, name, nameLength);
  std::memcpy(out + nameLength, suffix, suffixLength + 1);
  return true;
}

// Whether `path` is fully qualified with a drive letter ("C:\...") or is a
// UNC path ("\\server\share\..."). Any other form is resolved against the
// current folder of the process that uses it (of the drive, for "C:name";
// the current drive's root, for "\name"), and the system's loader finds a
// relative server by its own search order: such a path names no file that
// is known to be the filter's.
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsFullyQualified(const char* path) {
  bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  if (letter) return path[1] == ':' && IsSeparator(path[2]);
  return IsSeparator(path[0]) && IsSeparator(path[1]);
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

// The server file named by the default value of the machine's own
// "InprocServer32", opened with full access: a registration that may not
// be changed keeps its file. A value of another type than REG_SZ names no
// file: an expandable string would be expanded with this process's
// environment, which the user who started it sets.
void RemoveServerFile(RegistryKey& clsidKey, RegistryKey& workKey, char* nameBuffer,
                      char* valueBuffer, char* longPathBuffer) {
  if (!ComposeKeyPath(nameBuffer, TargetFilterClsid, "\\InprocServer32")) return;
  workKey.OpenOrdinary(clsidKey.Handle(), nameBuffer, KEY_ALL_ACCESS);
  if (!workKey.Handle()) return;
  const char* storedPath = workKey.QueryStringValue("", "", valueBuffer, kNameBufferLength);
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
                  const char* managerClsid, RegistryKey& workKey, char* nameBuffer,
                  char* valueBuffer, char* longPathBuffer) {
  RemoveInstanceEntry(probeKey, managerClsid, workKey);

  workKey.Open(clsidKey.Handle(), TargetFilterClsid, KEY_ALL_ACCESS, REG_OPTION_OPEN_LINK);
  // Not registered, or a class key that may not be changed: it stays, and
  // so does the file it names.
  if (!workKey.Handle()) return;

  // A class key that is a registry link names no file, and goes as a link.
  if (tree == ClassTree::Machine && IsOrdinaryKey(workKey.Handle()))
    RemoveServerFile(clsidKey, workKey, nameBuffer, valueBuffer, longPathBuffer);

  clsidKey.DeleteKeyTree(TargetFilterClsid);
}
