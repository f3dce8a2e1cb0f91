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

namespace {

// The number of sub-keys (or values) the held `key` has; 0 when that
// cannot be told.
DWORD Count(HKEY key, bool subKeys) {
  DWORD count = 0;
  LONG rc =
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, subKeys ? &count : nullptr, nullptr, nullptr,
                       subKeys ? nullptr : &count, nullptr, nullptr, nullptr, nullptr);
  return rc == ERROR_SUCCESS ? count : 0;
}

}  // namespace

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
  // Set by the first pass: see DeleteAllSubKeys.
  DWORD allowance = kUnset;
  PassTally tally;
  DWORD stopAfter = guess != kMany ? guess : 0;
  LONG end = DeleteAllSubKeys(key, level, stopAfter, &tally, &allowance);
  LONG rc = DeleteHeld(key.Handle());
  // Another pass from the start where one was cut short (more sub-keys than
  // expected), where one vanished under it (the next was passed over), or
  // where none of those it met stayed, yet the key did (some were added
  // meanwhile). Not where sub-keys stayed: a pass re-enters their trees.
  // Once the allowance is spent a pass meets nothing, and that ends it.
  while (rc != ERROR_SUCCESS &&
         (end == ERROR_SUCCESS || tally.vanished != 0 || (tally.stayed == 0 && tally.met != 0))) {
    tally.met = tally.stayed = tally.vanished = 0;
    end = DeleteAllSubKeys(key, level, 0, &tally, &allowance);
    rc = DeleteHeld(key.Handle());
  }
  if (level < kLevels)
    expected[level] = static_cast<uint8_t>(tally.deleted < kMany ? tally.deleted : kMany);
  // Only a key that stays keeps its values; its named ones go all the same,
  // unless it is (or may be) a link, whose value is its target.
  if (rc != ERROR_SUCCESS && IsOrdinaryKey(key.Handle())) DeleteAllValues(key);
  return StatusFromError(rc);
}

LONG KeyTreeDeletion::DeleteAllSubKeys(RegistryKey& key, int level, DWORD stopAfter,
                                       PassTally* tally, DWORD* allowance) {
  PassTally ignored;
  if (!tally) tally = &ignored;
  // A pass that expects `stopAfter` sub-keys meets no more; any other meets
  // at most as many as the key had when it began: what another process
  // adds meanwhile is left to the next pass.
  DWORD budget = stopAfter;
  if (!stopAfter) {
    budget = Count(key.Handle(), true);
    // The whole walk meets at most twice the sub-keys the key had when it
    // was first counted: it ends while another process keeps adding to the
    // key, and the few changes that one makes meanwhile are still met.
    if (allowance && *allowance == kUnset) *allowance = 2 * budget;
    if (allowance) {
      if (budget > *allowance) budget = *allowance;
      *allowance -= budget;
    }
  }
  SubKeyEnumerator cursor(key.Handle());
  char name[kNameBufferLength];
  for (DWORD met = 0; met < budget; ++met) {
    DWORD nameLength = kNameBufferLength;
    LONG rc = cursor.Next(name, &nameLength);
    if (rc != ERROR_SUCCESS) return rc;
    ++tally->met;
    // An empty name would open the key itself anew.
    Status status = name[0] == 0 ? StatusFromError(ERROR_INVALID_NAME)
                                 : DeleteTree(key.Handle(), name, level + 1);
    if (status == 0) {
      // The next sub-key now stands where the deleted one stood.
      cursor.SetIndex(cursor.Index() - 1);
      ++tally->deleted;
    } else if (status == StatusFromError(ERROR_FILE_NOT_FOUND) ||
               status == StatusFromError(ERROR_KEY_DELETED)) {
      // Another process took it away: the next took its place, and this
      // pass does not meet it.
      ++tally->vanished;
    } else {
      ++tally->stayed;  // it keeps its place and is passed over
    }
  }
  return stopAfter ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
}

LONG KeyTreeDeletion::DeleteAllValues(RegistryKey& key) {
  // As the sub-key pass: forward, bounded by the values the key had.
  DWORD budget = Count(key.Handle(), false);
  ValueEnumerator cursor(key.Handle());
  char name[kNameBufferLength];
  for (DWORD met = 0; met < budget; ++met) {
    DWORD nameLength = kNameBufferLength;
    LONG rc = cursor.Next(name, &nameLength);
    if (rc != ERROR_SUCCESS) return rc;
    if (name[0] == 0) continue;  // the unnamed default value goes with its key
    if (key.DeleteValue(name) == 0) cursor.SetIndex(cursor.Index() - 1);
  }
  return ERROR_NO_MORE_ITEMS;
}

Status RegistryKey::DeleteKeyTree(const char* subKey) {
  KeyTreeDeletion deletion;
  return deletion.DeleteTree(handle ? handle : parent, subKey);
}
