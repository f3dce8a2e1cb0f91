#include "bench/host/platform_tree_deletion.h"

namespace bench {

LONG PlatformStyleDeleteTree(HKEY parent, const char* subKey, uint64_t* infoQueries) {
  HKEY key = 0;
  LONG rc = RegOpenKeyExA(parent, subKey, 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) return rc;
  ++*infoQueries;  // the longest sub-key and value names, for the name buffer
  char name[MAX_PATH];
  for (;;) {
    DWORD length = MAX_PATH;
    rc = RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_SUCCESS) rc = PlatformStyleDeleteTree(key, name, infoQueries);
    if (rc != ERROR_SUCCESS) {
      RegCloseKey(key);
      return rc;
    }
  }
  rc = RegDeleteKeyA(key, "");
  RegCloseKey(key);
  return rc;
}

}  // namespace bench
