// One dumper of a registry tree as lines of text, through the platform's
// calls, for the tests' comparisons and the differential check's canonical
// dump: a key's path, then its values as "path|name|type|data" sorted, then
// its sub-keys, each opened as itself (a link is never followed).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace helpers {

struct DumpOptions {
  // Bytes outside printable ASCII, and those of `special`, are written as
  // `mark` and two hex digits (names, data and sub-key names alike).
  std::string mark = "\\x";
  std::string special = "\\|";
  // Whether sub-key names are escaped in the paths too.
  bool escapeKeyNames = false;
  // Sub-keys in the order of their upper-cased names, or as enumerated.
  bool sortKeys = false;
  // A key that holds a REG_LINK value shows " (link)" after its path and
  // is not walked.
  bool markLinks = false;
  // After the path of a sub-key that cannot be opened.
  std::string unopened = " (not readable)";
  // A value that cannot be read shows as "path|name|unreadable" (else it is
  // shown with what the query gave).
  bool markUnreadable = false;
  // Rewrites a value's data before it is escaped (null: as read).
  std::string (*data)(DWORD type, const std::string& bytes, const void* context) = nullptr;
  const void* context = nullptr;
};

// Appends the lines of `key` (at `path`; an empty path writes no line of
// its own and its sub-keys' paths start with their names) to `out`.
void DumpKey(HKEY key, const std::string& path, const DumpOptions& options,
             std::vector<std::string>* out);

}  // namespace helpers
