// The registry layer: a key object that owns one open key, two cursors that
// walk a held key's sub-keys or value names, and the deletion of a key tree.
// Every registry call of the program goes through these classes.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// 0 for success, otherwise the platform's error code folded into the
// HRESULT form 0x80070000 | (code & 0xFFFF).
typedef int32_t Status;

// Folds a platform error code into a Status; 0 stays 0.
Status StatusFromError(LONG code);

// Length of every name, value and path buffer, terminator included.
const DWORD kNameBufferLength = MAX_PATH;

// Copies `source` into `destination` of `size` bytes when it fits with its
// terminator; otherwise makes `destination` empty. Returns whether it fit.
bool CopyString(char* destination, DWORD size, const char* source);

// Whether the key held by `key` (opened without following a link) is known
// to be an ordinary key: one without a REG_LINK value of the link's value
// name. A key whose kind cannot be told is not.
bool IsOrdinaryKey(HKEY key);

// Holds at most one open registry key and remembers the handle it was
// opened under and the relative path used. Not copyable.
class RegistryKey {
 public:
  // An empty object: no path, no handle, no parent.
  RegistryKey();
  // Opens `path` (or the empty relative path when null) under `parent` with
  // KEY_ALL_ACCESS; the outcome shows in Handle().
  RegistryKey(HKEY parent, const char* path);
  // Closes what the object holds.
  ~RegistryKey();

  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Closes any held key, then opens `path` under `parent` with `access`.
  // A null path attaches to `parent` without opening anything. A path of
  // MAX_PATH characters or more is refused with ERROR_MORE_DATA's status.
  // `options` go to the platform as they are: REG_OPTION_OPEN_LINK opens a
  // registry link itself instead of the key it leads to.
  Status Open(HKEY parent, const char* path, REGSAM access, DWORD options = 0);
  // Opens `path` under `parent` as itself (REG_OPTION_OPEN_LINK at its last
  // level) and keeps it only when it is known to be an ordinary key: a
  // registry link, which would lead every name below it to its target, or a
  // key whose kind cannot be told (`access` lacks KEY_QUERY_VALUE) is closed
  // again and refused with ERROR_CANT_RESOLVE_FILENAME's status.
  Status OpenOrdinary(HKEY parent, const char* path, REGSAM access);
  // Closes the held key unless it is the parent's alias; Handle() becomes 0.
  void Close();

  // Reads the REG_SZ value `valueName` into `buffer` of `bufferSize` bytes,
  // always terminated within it. A missing key or value, another type, or a
  // value that does not fit with its terminator yields `fallback` instead.
  // Returns `buffer`.
  char* QueryStringValue(const char* valueName, const char* fallback, char* buffer,
                         DWORD bufferSize);
  // Deletes the value `valueName` of the held key.
  Status DeleteValue(const char* valueName);
  // Deletes the sub-key `subKey` with all its sub-keys and values. Works
  // relative to the parent when the object holds no handle. Registry links
  // are never followed: a link in the tree (or `subKey` itself) is deleted
  // as a link, or left in place, and the key it leads to stays untouched.
  Status DeleteKeyTree(const char* subKey);

  // The held key, or 0.
  HKEY Handle() const { return handle; }
  // The handle the path was (or was to be) opened under, or 0.
  HKEY Parent() const { return parent; }
  // The relative path last given to Open.
  const char* Path() const { return path; }

 private:
  char path[MAX_PATH];
  HKEY handle;
  HKEY parent;
};

// Walks the sub-keys of a borrowed handle, one index at a time.
class SubKeyEnumerator {
 public:
  explicit SubKeyEnumerator(HKEY handle);

  // Fetches the name at the current index into `name` (`*nameLength`
  // characters, set by the caller before every call), then advances the
  // index whatever the outcome. Returns the platform's code unmapped.
  LONG Next(char* name, DWORD* nameLength);
  // The index of the next fetch.
  DWORD Index() const { return index; }
  // Moves the cursor; 0 restarts the walk.
  void SetIndex(DWORD newIndex) { index = newIndex; }

 private:
  HKEY handle;
  DWORD index;
  FILETIME lastWriteTime;
};

// Walks the value names of a borrowed handle, one index at a time. The
// unnamed default value enumerates with an empty name.
class ValueEnumerator {
 public:
  explicit ValueEnumerator(HKEY handle);

  // As SubKeyEnumerator::Next, for value names only.
  LONG Next(char* name, DWORD* nameLength);
  DWORD Index() const { return index; }
  void SetIndex(DWORD newIndex) { index = newIndex; }

 private:
  HKEY handle;
  DWORD index;
};
