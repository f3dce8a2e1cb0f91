#include "host/reference_key_tree.h"

#include <cstring>
#include <set>
#include <string>

#include "support/test_registry.h"

namespace reference {

namespace {

int32_t Folded(LONG code) {
  return code == 0 ? 0
                   : static_cast<int32_t>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}

// `name` below `base`, the link itself at the last level; 0 on failure. A
// path of MAX_PATH characters or more is refused without a call.
HKEY OpenUnfollowed(HKEY base, const char* name, REGSAM access, LONG* rc) {
  if (std::strlen(name) >= MAX_PATH) {
    *rc = ERROR_MORE_DATA;
    return 0;
  }
  HKEY key = 0;
  *rc = RegOpenKeyExA(base, name, REG_OPTION_OPEN_LINK, access, &key);
  return *rc == ERROR_SUCCESS ? key : 0;
}

bool IsOrdinary(HKEY key) {
  DWORD type = REG_NONE;
  LONG rc = RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
  return rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && type != REG_LINK);
}

// Starts again at index 0 after every deletion, and after a sub-key that
// another party took away before it was reached (the next took its place);
// a name found gone once is passed over when met again.
void EmptyOfSubKeys(HKEY key) {
  char name[MAX_PATH];
  std::set<std::string> gone;
  for (DWORD index = 0;;) {
    DWORD length = MAX_PATH;
    FILETIME written;
    if (RegEnumKeyExA(key, index++, name, &length, nullptr, nullptr, nullptr, &written) !=
        ERROR_SUCCESS)
      return;
    if (name[0] == 0) continue;
    int32_t status = DeleteKeyTree(key, name);
    bool vanished = status == Folded(ERROR_FILE_NOT_FOUND) || status == Folded(ERROR_KEY_DELETED);
    if (status == 0 || (vanished && gone.insert(name).second)) index = 0;
  }
}

void EmptyOfValues(HKEY key) {
  char name[MAX_PATH];
  for (DWORD index = 0;;) {
    DWORD length = MAX_PATH;
    if (RegEnumValueA(key, index++, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return;
    if (name[0] != 0 && RegDeleteValueA(key, name) == ERROR_SUCCESS) index = 0;
  }
}

}  // namespace

int32_t DeleteKeyTree(HKEY base, const char* subKey) {
  if (!subKey) return Folded(ERROR_INVALID_PARAMETER);
  LONG rc;
  HKEY key = OpenUnfollowed(base, subKey, KEY_ALL_ACCESS, &rc);
  if (!key) {
    LONG ignored;
    key = OpenUnfollowed(base, subKey, DELETE | KEY_QUERY_VALUE, &ignored);
    if (!key) return Folded(rc);
  } else {
    // Held as itself, a link has no sub-keys: its walk follows nothing.
    EmptyOfSubKeys(key);
    if (IsOrdinary(key)) EmptyOfValues(key);
  }
  LONG deleted = test_support::DeleteHeldKey(key);
  RegCloseKey(key);
  return Folded(deleted);
}

}  // namespace reference
