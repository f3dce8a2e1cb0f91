#include "removal/removal_steps.h"

#include <cstring>

#include "removal/removal_run.h"
#include "removal/server_file.h"

namespace {

const char kClassRoot[] = "CLSID";
// The same class root in the machine's own classes, below HKEY_LOCAL_MACHINE.
const char kMachineClassRoot[] = "Software\\Classes\\CLSID";

// Composes "<root>\<name><suffix>" into `out` (kNameBufferLength bytes).
// Returns false, leaving `out` empty, when the path would not fit.
bool ComposeKeyPath(char* out, const char* root, const char* name, const char* suffix) {
  size_t rootLength = std::strlen(root);
  size_t nameLength = std::strlen(name);
  size_t suffixLength = std::strlen(suffix);
  if (rootLength + 1 + nameLength + suffixLength >= kNameBufferLength) {
    out[0] = 0;
    return false;
  }
  char* p = out;
  std::memcpy(p, root, rootLength);
  p += rootLength;
  *p++ = '\\';
  std::memcpy(p, name, nameLength);
  p += nameLength;
  std::memcpy(p, suffix, suffixLength + 1);
  return true;
}

// The instance entry below the class manager's "Instance" key.
void RemoveInstanceEntry(const char* managerClsid, RegistryKey& workKey, char* nameBuffer) {
  if (managerClsid[0] == 0) return;
  if (!ComposeKeyPath(nameBuffer, kClassRoot, managerClsid, "\\Instance")) return;
  // Only the base of the deletion: the entry is opened and deleted through
  // handles of its own, and its own protection decides. The "Instance" key
  // of a protected class manager lets administrators read it, no more.
  workKey.Open(HKEY_CLASSES_ROOT, nameBuffer, KEY_READ);
  if (workKey.Handle()) workKey.DeleteKeyTree(TargetFilterClsid);
}

// The server file named by the default value of the machine's own
// "InprocServer32". Through HKEY_CLASSES_ROOT the running user's own class
// registrations come first, and any program the user runs can write those:
// a file named there is never deleted with this process's rights. The
// machine's class key and its "InprocServer32", each opened with full
// access, are the gate: a machine registration that may not be changed
// keeps its file, whatever the user's copy allows.
void RemoveServerFile(RegistryKey& workKey, char* nameBuffer, char* valueBuffer,
                      char* longPathBuffer) {
  ComposeKeyPath(nameBuffer, kMachineClassRoot, TargetFilterClsid, "");
  if (workKey.Open(HKEY_LOCAL_MACHINE, nameBuffer, KEY_ALL_ACCESS) != 0) return;
  ComposeKeyPath(nameBuffer, kMachineClassRoot, TargetFilterClsid, "\\InprocServer32");
  workKey.Open(HKEY_LOCAL_MACHINE, nameBuffer, KEY_ALL_ACCESS);
  if (!workKey.Handle()) return;
  const char* storedPath = workKey.QueryStringValue("", "", valueBuffer, kNameBufferLength);
  if (storedPath[0] == 0) return;
  // A result of kNameBufferLength or more is the size the long form needs;
  // the buffer was left unfilled, so the stored path is used instead.
  DWORD length =
      pfnGetLongPathName ? pfnGetLongPathName(storedPath, longPathBuffer, kNameBufferLength) : 0;
  if (length == 0 || length >= kNameBufferLength)
    CopyString(longPathBuffer, kNameBufferLength, storedPath);
  DeleteServerFile(longPathBuffer);
}

}  // namespace

void RemoveFilter(const char* managerClsid, RegistryKey& workKey, char* nameBuffer,
                  char* valueBuffer, char* longPathBuffer) {
  RemoveInstanceEntry(managerClsid, workKey, nameBuffer);

  ComposeKeyPath(nameBuffer, kClassRoot, TargetFilterClsid, "");
  workKey.Open(HKEY_CLASSES_ROOT, nameBuffer, KEY_ALL_ACCESS);
  // Not registered, or a class key that may not be changed: it stays, and
  // so does the file it names.
  if (!workKey.Handle()) return;

  RemoveServerFile(workKey, nameBuffer, valueBuffer, longPathBuffer);

  // Only below the class root: were "CLSID" not open, deleting relative to
  // the root itself would reach a key that is not the filter's.
  workKey.Open(HKEY_CLASSES_ROOT, kClassRoot, KEY_ALL_ACCESS);
  if (workKey.Handle()) workKey.DeleteKeyTree(TargetFilterClsid);
}
