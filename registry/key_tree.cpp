// Deletion of a whole key tree. The platform deletes only keys without
// sub-keys, so the tree is taken apart depth first: each key is emptied of
// its sub-keys and named values, then deleted itself.

#include "registry/key_tree.h"

#include "registry/registry_key.h"

namespace {

// Walks the entries of the key `subKey` below `parentKey` with `Cursor`
// and removes each named one with `remove`. A successful removal shifts the
// remaining entries down, so the walk restarts at index 0; an entry whose
// removal failed keeps its place and is passed over, so every pass ends.
// Returns the status of the fetch that ended the pass.
template <typename Cursor, typename Remove>
LONG EmptyKey(HKEY parentKey, const char* subKey, Remove remove) {
  RegistryKey key(parentKey, subKey);
  Cursor cursor(key.Handle());
  char name[kNameBufferLength];
  for (;;) {
    DWORD nameLength = kNameBufferLength;
    LONG rc = cursor.Next(name, &nameLength);
    if (rc != ERROR_SUCCESS) return rc;
    if (name[0] == 0) continue;  // the unnamed default value goes with its key
    if (remove(key, name) == 0) cursor.SetIndex(0);
  }
}

}  // namespace

LONG DeleteAllSubKeys(HKEY parentKey, const char* subKey) {
  return EmptyKey<SubKeyEnumerator>(
      parentKey, subKey,
      [](RegistryKey& key, const char* name) { return key.DeleteKeyTree(name); });
}

LONG DeleteAllValues(HKEY parentKey, const char* subKey) {
  return EmptyKey<ValueEnumerator>(
      parentKey, subKey,
      [](RegistryKey& key, const char* name) { return key.DeleteValue(name); });
}

Status RegistryKey::DeleteKeyTree(const char* subKey) {
  if (!subKey) return StatusFromError(ERROR_INVALID_PARAMETER);
  HKEY base = handle ? handle : parent;
  DeleteAllSubKeys(base, subKey);
  DeleteAllValues(base, subKey);
  return StatusFromError(RegDeleteKeyA(base, subKey));
}
