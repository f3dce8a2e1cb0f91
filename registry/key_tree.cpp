// Deletion of a whole key tree. The platform deletes only keys without
// sub-keys, so the tree is taken apart depth first: each key is emptied of
// its sub-keys and named values, then deleted itself.
//
// A key of the tree may be a registry link to a key anywhere else. Opened
// the ordinary way, or deleted by name, a link is followed, and the walk
// would empty and delete what it leads to (or, led back to an ancestor,
// never end). So every key of the tree is opened with REG_OPTION_OPEN_LINK,
// walked through that handle only, and deleted through it; a link is
// deleted as a link and never walked.

#include "registry/key_tree.h"

#include "registry/registry_key.h"

namespace {

// A link keeps the path it leads to in this value, of type REG_LINK.
const char kLinkValueName[] = "SymbolicLinkValue";

// Whether the key held by `key` (opened without following a link) is known
// to be an ordinary key that may be walked: one without a REG_LINK value of
// the link's value name. A key whose kind cannot be told is not.
bool IsOrdinaryKey(HKEY key) {
  DWORD type = REG_NONE;
  LONG rc = RegQueryValueExA(key, kLinkValueName, nullptr, &type, nullptr, nullptr);
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  return rc == ERROR_SUCCESS && type != REG_LINK;
}

// Walks the entries of the key held by `key` with `Cursor` and removes each
// named one with `remove`. A successful removal shifts the remaining entries
// down, so the walk restarts at index 0; an entry whose removal failed keeps
// its place and is passed over, so every pass ends. Returns the status of
// the fetch that ended the pass.
template <typename Cursor, typename Remove>
LONG EmptyKey(RegistryKey& key, Remove remove) {
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

LONG EmptyOfSubKeys(RegistryKey& key) {
  return EmptyKey<SubKeyEnumerator>(
      key, [](RegistryKey& held, const char* name) { return held.DeleteKeyTree(name); });
}

LONG EmptyOfValues(RegistryKey& key) {
  return EmptyKey<ValueEnumerator>(
      key, [](RegistryKey& held, const char* name) { return held.DeleteValue(name); });
}

// `subKey` below `parentKey`, opened with full access without following a
// link at its last level (the empty path opens the parent's key anew).
void OpenUnfollowed(RegistryKey& key, HKEY parentKey, const char* subKey) {
  key.Open(parentKey, subKey ? subKey : "", KEY_ALL_ACCESS, REG_OPTION_OPEN_LINK);
}

}  // namespace

LONG DeleteAllSubKeys(HKEY parentKey, const char* subKey) {
  RegistryKey key;
  OpenUnfollowed(key, parentKey, subKey);
  return EmptyOfSubKeys(key);
}

LONG DeleteAllValues(HKEY parentKey, const char* subKey) {
  RegistryKey key;
  OpenUnfollowed(key, parentKey, subKey);
  return EmptyOfValues(key);
}

Status RegistryKey::DeleteKeyTree(const char* subKey) {
  if (!subKey) return StatusFromError(ERROR_INVALID_PARAMETER);
  HKEY base = handle ? handle : parent;
  RegistryKey key;
  Status status = key.Open(base, subKey, KEY_ALL_ACCESS, REG_OPTION_OPEN_LINK);
  if (status != 0) {
    // A key that denies full access is not walked, but it still goes when
    // it has no sub-keys: through a handle with just the rights for that.
    if (key.Open(base, subKey, DELETE | KEY_QUERY_VALUE, REG_OPTION_OPEN_LINK) != 0) return status;
  } else if (IsOrdinaryKey(key.Handle())) {
    EmptyOfSubKeys(key);
    EmptyOfValues(key);
  }
  // Through the handle, never by name: a name would follow a link, and the
  // key under the name may have been replaced since it was walked.
  return StatusFromError(RegDeleteKeyA(key.Handle(), ""));
}
