#include "removal/removal_run.h"

#include "platform/system_function.h"
#include "removal/redirection_guard.h"
#include "removal/removal_steps.h"

const char TargetFilterClsid[] = "{3A7D52C8-6E19-4B2F-9C04-71E5D8A0B6F3}";
const char ClassManagerName[] = "ActiveMovie Filter Class Manager";

GetLongPathNameFunction pfnGetLongPathName = nullptr;

namespace {

char FoldAsciiCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void ResolveLongPathFunction() {
  pfnGetLongPathName =
      FindSystemFunction<GetLongPathNameFunction>(GetModuleHandleA("kernel32"), "GetLongPathNameA");
}

}  // namespace

bool EqualsIgnoringAsciiCase(const char* value, const char* expected) {
  for (;; ++value, ++expected) {
    if (FoldAsciiCase(*value) != FoldAsciiCase(*expected)) return false;
    if (*value == 0) return true;
  }
}

void FindClassManager(RegistryKey& clsidKey, RegistryKey& probeKey, char* nameBuffer,
                      char* valueBuffer, char* managerClsid) {
  managerClsid[0] = 0;
  SubKeyEnumerator cursor(clsidKey.Handle());
  valueBuffer[0] = 0;
  DWORD nameLength = kNameBufferLength;
  while (cursor.Next(nameBuffer, &nameLength) == ERROR_SUCCESS) {
    // The lookup only reads. The system installs its own class keys, the
    // class manager's among them, readable but not changeable, so a class
    // key opened with more than it needs would never match. Each is held as
    // itself: a registry link holds no default value, so it never matches
    // and never leads the removal to the key it names.
    probeKey.Open(clsidKey.Handle(), nameBuffer, KEY_QUERY_VALUE, REG_OPTION_OPEN_LINK);
    probeKey.QueryStringValue("", "", valueBuffer, kNameBufferLength);
    // A link that holds a default value of its own (which no registry
    // lets one hold) is not taken either.
    if (EqualsIgnoringAsciiCase(valueBuffer, ClassManagerName) &&
        IsOrdinaryKey(probeKey.Handle())) {
      CopyString(managerClsid, kNameBufferLength, nameBuffer);
      return;
    }
    valueBuffer[0] = 0;
    nameLength = kNameBufferLength;
  }
}

namespace {

// The class root of each tree, below its hive.
const char kClassRootPath[] = "Software\\Classes\\CLSID";

// The lookup and the removal steps in the tree whose class root
// `clsidKey` holds.
void RemoveFromClassTree(ClassTree tree, RegistryKey& clsidKey) {
  RegistryKey probeKey;
  RegistryKey workKey;
  char nameBuffer[kNameBufferLength];
  char valueBuffer[kNameBufferLength];
  char managerClsid[kNameBufferLength];
  char longPathBuffer[kNameBufferLength];
  FindClassManager(clsidKey, probeKey, nameBuffer, valueBuffer, managerClsid);
  RemoveFilter(tree, clsidKey, probeKey, managerClsid, workKey, valueBuffer, longPathBuffer);
  // workKey, then probeKey close as they leave scope.
}

}  // namespace

int RunRemoval() {
  // The machine's class root with full access is the run's gate: a run
  // that may not change it changes nothing at all, in either tree.
  RegistryKey machineClsidKey;
  machineClsidKey.OpenOrdinary(HKEY_LOCAL_MACHINE, kClassRootPath, KEY_ALL_ACCESS);
  ResolveLongPathFunction();
  EnableRedirectionGuard();
  if (!machineClsidKey.Handle()) return 0;
  // The machine's tree first, then the running user's, each through its
  // own keys only: HKEY_CLASSES_ROOT would merge the user's classes, which
  // any program the user runs can write, over the machine's. Nothing in
  // the user's tree changes what is done in the machine's.
  RemoveFromClassTree(ClassTree::Machine, machineClsidKey);
  // Only reading: every key deleted there is opened by a handle of its own.
  RegistryKey userClsidKey;
  userClsidKey.OpenOrdinary(HKEY_CURRENT_USER, kClassRootPath, KEY_READ);
  if (userClsidKey.Handle()) RemoveFromClassTree(ClassTree::User, userClsidKey);
  return 0;
}
