// The stand-in's file table and the kernel's file calls on it.

#include "platform/host/file_table.h"

#include <cstring>
#include <map>
#include <string>

#include "platform/host/host_windows.h"
#include "platform/host/key_tree.h"
#include "platform/host/standin_control.h"
#include "platform/host/test_controls.h"

namespace standin_impl {

namespace {

struct FileEntry {
  std::string path;
  DWORD deleteError = 0;
};

struct FileTable {
  bool longPathPresent = true;
  std::map<std::string, FileEntry> files;          // by upper path
  std::map<std::string, std::string> shortToLong;  // upper short -> long
};

FileTable& F() {
  static FileTable table;
  return table;
}

std::string UpperPath(const std::string& path) { return Upper(path); }

}  // namespace

void ResetFiles() { F() = FileTable(); }
bool LongPathFunctionPresent() { return F().longPathPresent; }

}  // namespace standin_impl

using standin_impl::F;
using standin_impl::Gate;
using standin_impl::UpperPath;

BOOL DeleteFileA(LPCSTR fileName) {
  if (DWORD error = Gate(standin::Call::DeleteFileA)) {
    SetLastError(error);
    return FALSE;
  }
  if (!fileName || !*fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  standin_impl::FileTable& f = F();
  std::string upper = UpperPath(fileName);
  auto alias = f.shortToLong.find(upper);
  if (alias != f.shortToLong.end()) upper = UpperPath(alias->second);
  auto it = f.files.find(upper);
  if (it == f.files.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (it->second.deleteError) {
    SetLastError(it->second.deleteError);
    return FALSE;
  }
  f.files.erase(it);
  return TRUE;
}

DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength) {
  if (DWORD error = Gate(standin::Call::GetLongPathNameA)) {
    SetLastError(error);
    return 0;
  }
  if (!shortPath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!*shortPath) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (std::strpbrk(shortPath, "*?")) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  standin_impl::FileTable& f = F();
  std::string upper = UpperPath(shortPath);
  std::string result;
  auto alias = f.shortToLong.find(upper);
  if (alias != f.shortToLong.end() && f.files.count(UpperPath(alias->second))) {
    result = alias->second;
  } else if (f.files.count(upper)) {
    result = shortPath;  // already long: returned as given
  } else {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (!longPath || bufferLength <= result.size())
    return static_cast<DWORD>(result.size() + 1);  // buffer untouched
  std::memmove(longPath, result.c_str(), result.size() + 1);
  return static_cast<DWORD>(result.size());
}

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD bufferLength) {
  standin_impl::FileTable& f = F();
  if (!longPath || !f.files.count(UpperPath(longPath))) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  std::string result = longPath;
  for (const auto& alias : f.shortToLong) {
    if (UpperPath(alias.second) == UpperPath(longPath)) {
      result = alias.first;
      break;
    }
  }
  if (!shortPath || bufferLength <= result.size()) return static_cast<DWORD>(result.size() + 1);
  std::memmove(shortPath, result.c_str(), result.size() + 1);
  return static_cast<DWORD>(result.size());
}

// ---------------------------------------------------------------------------
// Control interface: the file table as tests shape it.

namespace standin {

void SetLongPathFunctionPresent(bool present) { F().longPathPresent = present; }

void AddFile(const std::string& path) {
  standin_impl::FileEntry& entry = F().files[UpperPath(path)];
  if (entry.path.empty()) entry.path = path;
}

void AddShortName(const std::string& shortPath, const std::string& longPath) {
  AddFile(longPath);
  F().shortToLong[UpperPath(shortPath)] = longPath;
}

void LockFile(const std::string& path, DWORD error) {
  AddFile(path);
  F().files[UpperPath(path)].deleteError = error;
}

bool FileExists(const std::string& path) { return F().files.count(UpperPath(path)) != 0; }

std::vector<std::string> Files() {
  std::vector<std::string> out;
  for (const auto& entry : F().files) out.push_back(entry.second.path);
  return out;
}

}  // namespace standin
