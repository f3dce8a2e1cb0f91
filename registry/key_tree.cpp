// Deletion of a whole key tree. The platform deletes only keys without
// sub-keys, so the tree is taken apart depth first.
//
// A key of the tree may be a registry link to a key anywhere else. Opened
// the ordinary way, or deleted by name, a link is followed, and the walk
// would empty and delete what it leads to (or, led back to an ancestor,
// never end). So every key of the tree is opened with REG_OPTION_OPEN_LINK,
// walked through that handle only, and deleted through it; a link is
// deleted as a link and never followed. Held as itself, a link has no
// sub-keys of its own (a key is made a link only when it is created, and
// what is created below one goes to its target), so walking it finds
// nothing and needs no check first. Only the value pass must tell a link
// from an ordinary key: a link keeps its target in its one value.
//
// Deleted through its handle means NtDeleteKey on that handle, the one call
// that deletes exactly the key a handle holds. RegDeleteKeyA(handle, "")
// opens the empty name relative to the handle anew, without
// REG_OPTION_OPEN_LINK, and on Windows that open re-parses a link to its
// target: the target would go, and the link would stay. Where NtDeleteKey
// cannot be found, an ordinary key still goes that way, and a link (or a
// key that may be one) stays.
//
// Each key costs an open, a deletion and a close when it is a leaf. To spend
// no more on the others, the deletion remembers, level by level, how many
// sub-keys the key it last deleted there had: a key expected to be a leaf
// is tried for deletion at once, and one expected to have n sub-keys is
// tried right after its n-th sub-key went, in place of the fetch that
// would find the walk at its end. A wrong guess costs a failed deletion,
// which changes nothing, and the walk goes on as if it had not been made.

#include "registry/key_tree.h"

#include <cstring>

#include "platform/system_function.h"

KeyTreeDeletion::KeyTreeDeletion() {
  std::memset(expected, 0, sizeof expected);
  HMODULE ntdll = GetModuleHandleA("ntdll");
  toError = FindSystemFunction<RtlNtStatusToDosErrorFunction>(ntdll, "RtlNtStatusToDosError");
  deleteKey = FindSystemFunction<NtDeleteKeyFunction>(ntdll, "NtDeleteKey");
}

LONG KeyTreeDeletion::DeleteHeld(HKEY key) const {
  // Through the handle, never by name: a name would follow a link, and the
  // key under the name may have been replaced since it was opened.
  if (deleteKey && toError) return static_cast<LONG>(toError(deleteKey(key)));
  // Without it, only by the empty name, which reaches a link's target: so
  // only a key known to be ordinary goes.
  if (!IsOrdinaryKey(key)) return ERROR_PROC_NOT_FOUND;
  return RegDeleteKeyA(key, "");
}

Status KeyTreeDeletion::DeleteTree(HKEY base, const char* subKey, int level) {
  if (!subKey) return StatusFromError(ERROR_INVALID_PARAMETER);
  RegistryKey key;
  Status status = key.Open(base, subKey, KEY_ALL_ACCESS, REG_OPTION_OPEN_LINK);
  if (status == 0) return DeleteOpened(key, level);
  // A key that denies full access is not walked, but it still goes when
  // it has no sub-keys: through a handle with just the rights for that.
  if (key.Open(base, subKey, DELETE | KEY_QUERY_VALUE, REG_OPTION_OPEN_LINK) != 0) return status;
  return StatusFromError(DeleteHeld(key.Handle()));
}

Status KeyTreeDeletion::DeleteOpened(RegistryKey& key, int level) {
  DWORD guess = level < kLevels ? expected[level] : kMany;
  if (guess == 0 && DeleteHeld(key.Handle()) == ERROR_SUCCESS) return 0;
  DWORD deleted = 0;
  DWORD stopAfter = guess != kMany ? guess : 0;
  LONG end = DeleteAllSubKeys(key, level, stopAfter, &deleted);
  LONG rc = DeleteHeld(key.Handle());
  if (rc != ERROR_SUCCESS && end == ERROR_SUCCESS) {
    // More sub-keys than expected: the rest of the walk, then the deletion.
    DeleteAllSubKeys(key, level, 0, &deleted);
    rc = DeleteHeld(key.Handle());
  }
  if (level < kLevels) expected[level] = static_cast<uint8_t>(deleted < kMany ? deleted : kMany);
  // Only a key that stays keeps its values; its named ones go all the same,
  // unless it is (or may be) a link, whose value is its target.
  if (rc != ERROR_SUCCESS && IsOrdinaryKey(key.Handle())) DeleteAllValues(key);
  return StatusFromError(rc);
}

LONG KeyTreeDeletion::DeleteAllSubKeys(RegistryKey& key, int level, DWORD stopAfter,
                                       DWORD* deleted) {
  SubKeyEnumerator cursor(key.Handle());
  char name[kNameBufferLength];
  DWORD made = 0;
  for (;;) {
    DWORD nameLength = kNameBufferLength;
    LONG rc = cursor.Next(name, &nameLength);
    if (rc != ERROR_SUCCESS) {
      if (deleted) *deleted += made;
      return rc;
    }
    // An empty name would open the key itself anew.
    if (name[0] == 0 || DeleteTree(key.Handle(), name, level + 1) != 0) continue;
    cursor.SetIndex(0);
    if (++made == stopAfter) {
      if (deleted) *deleted += made;
      return ERROR_SUCCESS;
    }
  }
}

LONG KeyTreeDeletion::DeleteAllValues(RegistryKey& key) {
  ValueEnumerator cursor(key.Handle());
  char name[kNameBufferLength];
  for (;;) {
    DWORD nameLength = kNameBufferLength;
    LONG rc = cursor.Next(name, &nameLength);
    if (rc != ERROR_SUCCESS) return rc;
    if (name[0] == 0) continue;  // the unnamed default value goes with its key
    if (key.DeleteValue(name) == 0) cursor.SetIndex(0);
  }
}

Status RegistryKey::DeleteKeyTree(const char* subKey) {
  KeyTreeDeletion deletion;
  return deletion.DeleteTree(handle ? handle : parent, subKey);
}
