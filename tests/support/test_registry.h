// Builds, inspects and removes registry trees through the platform's own
// calls, so that a test reads the same on the stand-in and on Windows.
// Paths are relative to the given root key, levels separated by '\'.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace test_support {

// A name no other test process uses: `prefix` and a unique hex tail.
std::string UniqueName(const std::string& prefix);

void CreateKey(HKEY root, const std::string& path);
// Stores a value of any type; `bytes` is stored exactly as given (a string
// type without a trailing NUL is stored without one).
void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::string& bytes);
// A REG_SZ value with its terminator.
void SetString(HKEY root, const std::string& path, const std::string& name,
               const std::string& text);
bool KeyExists(HKEY root, const std::string& path);
bool ValueExists(HKEY root, const std::string& path, const std::string& name);
// Removes the key and everything below it; a missing key is fine. Links
// are removed as links, never followed.
void DeleteTree(HKEY root, const std::string& path);
// Deletes exactly the key `key` holds (a link as a link) with NtDeleteKey,
// looked up in "ntdll"; the error its result folds to (ERROR_PROC_NOT_FOUND
// when either native call is missing).
LONG DeleteHeldKey(HKEY key);
// A registry link at `path` that leads to `target`, a path below
// HKEY_CLASSES_ROOT that need not exist.
void CreateLink(HKEY root, const std::string& path, const std::string& target);

// The tree below `path` as lines "sub\path" and "sub\path|name|type|data",
// keys in enumeration order and values sorted by name, so that the text
// does not depend on the order in which the platform lists values. A link
// below `path` shows as a key with its target value, never followed.
std::vector<std::string> DumpTree(HKEY root, const std::string& path);
// `lines` without the lines of the key `keyPath` (relative to the dump's
// root) and everything below it.
std::vector<std::string> WithoutKey(const std::vector<std::string>& lines,
                                    const std::string& keyPath);

// A sandbox key below HKEY_CLASSES_ROOT, made with a unique name and
// removed with everything below it when the object goes.
class ScratchKey {
 public:
  explicit ScratchKey(const std::string& prefix);
  ~ScratchKey();
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  const std::string& Path() const { return path_; }
  // `relative` below the sandbox, as a path below HKEY_CLASSES_ROOT.
  std::string Below(const std::string& relative) const;
  // An open handle on the sandbox key, closed with the object.
  HKEY Handle() const { return handle_; }

 private:
  std::string path_;
  HKEY handle_ = 0;
};

}  // namespace test_support
