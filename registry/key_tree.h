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

  // What a sub-key pass did: sub-keys met, deleted, that stayed, and that
  // were gone when the pass reached them.
  struct PassTally {
    DWORD met = 0;
    DWORD deleted = 0;
    DWORD stayed = 0;
    DWORD vanished = 0;
  };

  // Empties the held `key` (at `level`) of its sub-keys, each deleted with
  // its whole tree by DeleteTree, in one pass forward: a sub-key whose
  // deletion failed keeps its place and is passed over, the next one takes
  // the place of one deleted. The pass meets at most `stopAfter` sub-keys
  // when that is not 0, else at most as many as the key had when it began
  // (RegQueryInfoKeyA): it costs a fixed number of calls for each and ends
  // while another process keeps adding to the key. Returns ERROR_SUCCESS
  // when it met `stopAfter` sub-keys without fetching again,
  // ERROR_NO_MORE_ITEMS when it ended otherwise, or the status of a fetch
  // that failed. Adds to `*tally` when given. With `allowance`, meets no
  // more than it allows, and takes what it may meet from it; kUnset makes
  // it twice the sub-keys the key has. The
  // key must be held as itself (REG_OPTION_OPEN_LINK): a link held so has
  // no sub-keys, and its walk ends at once.
  LONG DeleteAllSubKeys(RegistryKey& key, int level = 0, DWORD stopAfter = 0,
                        PassTally* tally = nullptr, DWORD* allowance = nullptr);

  // Empties the held `key` of its named values, in one pass forward bounded
  // by the values it had; the unnamed default value is left to go with the
  // key, a value whose deletion failed is passed over. Returns the status
  // of the fetch that ended the pass, or ERROR_NO_MORE_ITEMS.
  static LONG DeleteAllValues(RegistryKey& key);

  // Deepest level whose keys' sub-key counts are remembered; deeper keys
  // are always walked before their deletion is tried.
  static const int kLevels = 512;
  // An allowance not yet set.
  static const DWORD kUnset = 0xFFFFFFFFu;

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
