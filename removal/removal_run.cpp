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
    // key opened with more than it needs would never match.
    probeKey.Open(clsidKey.Handle(), nameBuffer, KEY_QUERY_VALUE);
    probeKey.QueryStringValue("", "", valueBuffer, kNameBufferLength);
    if (EqualsIgnoringAsciiCase(valueBuffer, ClassManagerName)) {
      CopyString(managerClsid, kNameBufferLength, nameBuffer);
      return;
    }
    valueBuffer[0] = 0;
    nameLength = kNameBufferLength;
  }
}

int RunRemoval() {
  // With full access, the run's gate: a run that may not change the class
  // root changes nothing at all.
  RegistryKey clsidKey(HKEY_CLASSES_ROOT, "CLSID");
  ResolveLongPathFunction();
  EnableRedirectionGuard();
  if (clsidKey.Handle()) {
    RegistryKey probeKey;
    RegistryKey workKey;
    char nameBuffer[kNameBufferLength];
    char valueBuffer[kNameBufferLength];
    char managerClsid[kNameBufferLength];
    char longPathBuffer[kNameBufferLength];
    FindClassManager(clsidKey, probeKey, nameBuffer, valueBuffer, managerClsid);
    RemoveFilter(managerClsid, workKey, nameBuffer, valueBuffer, longPathBuffer);
    // workKey, then probeKey, then clsidKey close as they leave scope.
  }
  return 0;
}
