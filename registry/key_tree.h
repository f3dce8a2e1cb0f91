// The tree deletion behind RegistryKey::DeleteKeyTree, and its two passes.
//
// Every key of the tree is opened with REG_OPTION_OPEN_LINK and deleted
// through its own handle with NtDeleteKey, looked up at run time. Almost
// every key of a tree is a leaf, which that call removes with all its
// values at once; so a key is walked (emptied of its sub-keys) only when it
// is expected to have sub-keys or its deletion failed, and checked for a
// link and emptied of its named values only when its deletion failed after
// the walk (without NtDeleteKey, also checked before every deletion). What is left
// in the registry is what taking every key apart (its sub-keys, then its
// named values, then the key) would leave.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "registry/registry_key.h"

class KeyTreeDeletion {
 public:
  // Expects every key to be a leaf, and looks up the native deletion.
  KeyTreeDeletion();

  // Deletes `subKey` below `base` with everything below it; `level` is its
  // depth in the tree being deleted (0 for the key asked for). A key that
  // cannot be opened with full access is neither walked nor emptied, and
  // goes only if it has no sub-keys. Returns the status of the last
  // deletion of that key (or of its failed open).
  Status DeleteTree(HKEY base, const char* subKey, int level = 0);

  // Empties the held `key` (at `level`) of its sub-keys, each deleted with
  // its whole tree by DeleteTree. A successful deletion restarts the walk
  // at index 0; a sub-key whose deletion failed keeps its place and is
  // passed over, so every pass ends. Returns the status of the fetch that
  // ended the pass (ERROR_NO_MORE_ITEMS when the key was walked to its
  // end), or ERROR_SUCCESS when `stopAfter` (if not 0) deletions were made,
  // without fetching again. Adds the deletions made to `*deleted` when
  // given. The key must be held as itself (REG_OPTION_OPEN_LINK): a link
  // held so has no sub-keys, and its walk ends at once.
  LONG DeleteAllSubKeys(RegistryKey& key, int level = 0, DWORD stopAfter = 0,
                        DWORD* deleted = nullptr);

  // Empties the held `key` of its named values; the unnamed default value
  // is left to go with the key. A successful deletion restarts the walk at
  // index 0, a failed one is passed over. Returns the status of the fetch
  // that ended the pass.
  static LONG DeleteAllValues(RegistryKey& key);

  // Deepest level whose keys' sub-key counts are remembered; deeper keys
  // are always walked before their deletion is tried.
  static const int kLevels = 512;

 private:
  // The held key at `level`, opened with full access, with its tree.
  Status DeleteOpened(RegistryKey& key, int level);

  // Deletes exactly the key `key` holds, a link as a link, with its values;
  // it must have no sub-keys. Without the native deletion a key that is
  // (or may be) a link stays (ERROR_PROC_NOT_FOUND). Returns the error.
  LONG DeleteHeld(HKEY key) const;

  // The native deletion and the fold of its result, or null when missing.
  NtDeleteKeyFunction deleteKey;
  RtlNtStatusToDosErrorFunction toError;

  // For each level, the number of sub-keys the key last deleted there had
  // (kMany: too many to count, or not known): the next key at the level is
  // expected to have as many. 0, a leaf, is tried for deletion at once.
  static const uint8_t kMany = 0xFF;
  uint8_t expected[kLevels];
};
