// The stand-in's file table and the kernel's file calls on it.

#include "platform/host/file_table.h"

#include <cstring>
#include <map>
#include <set>
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
  bool directory = false;
};

struct FileTable {
  bool longPathPresent = true;
  uintptr_t nextHandle = 0x100;
  std::set<uintptr_t> openFiles;
  std::map<std::string, FileEntry> files;          // by upper path
  std::map<std::string, std::string> shortToLong;  // upper short -> long
};

FileTable& F() {
  static FileTable table;
  return table;
}

// The key of a path in the table: the path as the system reads it, upper
// cased. Like the system's own path parsing, "/" separates as "\\" does, a
// run of separators counts as one, and dots and spaces that end the last
// component are dropped ("Server.dll." is "Server.dll").
std::string UpperPath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '/') c = '\\';
    if (c == '\\' && !out.empty() && out.back() == '\\') continue;
    out += c;
  }
  size_t last = out.find_last_of('\\');
  size_t keep = out.size();
  while (keep > (last == std::string::npos ? 0 : last + 1) &&
         (out[keep - 1] == '.' || out[keep - 1] == ' '))
    --keep;
  out.resize(keep);
  return Upper(out);
}

// Whether the directory that holds `path` exists: a drive's root always does.
bool ParentExists(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return false;
  std::string parent = path.substr(0, slash);
  if (parent.size() == 2 && parent[1] == ':') return true;
  auto it = F().files.find(UpperPath(parent));
  return it != F().files.end() && it->second.directory;
}

// Whether a path component is a legal 8.3 name in upper case.
bool IsShortComponent(const std::string& name) {
  size_t dot = name.find('.');
  std::string base = name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos)
    return false;
  for (char c : name)
    if (c == ' ' || (c >= 'a' && c <= 'z')) return false;
  return true;
}

// The "NAME~N.EXT" form of a component that is not a legal 8.3 name.
std::string ShortComponent(const std::string& name, unsigned n) {
  size_t dot = name.find_last_of('.');
  std::string base, ext;
  for (size_t i = 0; i < name.size() && i < dot && base.size() < 6; ++i)
    if (name[i] != ' ' && name[i] != '.') base += name[i];
  if (dot != std::string::npos)
    for (size_t i = dot + 1; i < name.size() && ext.size() < 3; ++i)
      if (name[i] != ' ') ext += name[i];
  std::string out = Upper(base) + "~" + std::to_string(n);
  return ext.empty() ? out : out + "." + Upper(ext);
}

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
  if (it->second.directory) {
    SetLastError(ERROR_ACCESS_DENIED);
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

// Makes up a short form for every component that lacks one, "NAME~1.EXT"
// the way Windows does (Wine's differ: the tests ask for them, never guess).
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD bufferLength) {
  standin_impl::FileTable& f = F();
  if (!longPath || !f.files.count(UpperPath(longPath))) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  std::string result;
  for (const auto& alias : f.shortToLong) {
    if (UpperPath(alias.second) == UpperPath(longPath)) {
      result = alias.first;
      break;
    }
  }
  if (result.empty()) {
    std::string path = longPath;
    std::string longSoFar, shortSoFar;
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find('\\', start);
      if (end == std::string::npos) end = path.size();
      std::string part = path.substr(start, end - start);
      std::string shortPart = part;
      if (start > 0 && !standin_impl::IsShortComponent(part)) {
        for (unsigned n = 1;; ++n) {
          shortPart = standin_impl::ShortComponent(part, n);
          std::string candidate = shortSoFar + "\\" + shortPart;
          auto taken = f.shortToLong.find(UpperPath(candidate));
          if (taken == f.shortToLong.end() ||
              UpperPath(taken->second) == UpperPath(longSoFar + "\\" + part))
            break;
        }
      }
      longSoFar = start == 0 ? part : longSoFar + "\\" + part;
      shortSoFar = start == 0 ? shortPart : shortSoFar + "\\" + shortPart;
      if (shortSoFar != longSoFar) f.shortToLong[UpperPath(shortSoFar)] = longSoFar;
      start = end + 1;
    }
    result = shortSoFar;
  }
  if (!shortPath || bufferLength <= result.size()) return static_cast<DWORD>(result.size() + 1);
  std::memmove(shortPath, result.c_str(), result.size() + 1);
  return static_cast<DWORD>(result.size());
}

BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
  std::string path = pathName ? pathName : "";
  if (path.size() >= MAX_PATH - 12) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  if (!standin_impl::ParentExists(path)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  standin_impl::FileEntry& entry = F().files[UpperPath(path)];
  if (!entry.path.empty()) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  entry.path = path;
  entry.directory = true;
  return TRUE;
}

// Makes (or empties) a file; the only disposition modelled is CREATE_ALWAYS.
HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                   HANDLE) {
  std::string path = fileName ? fileName : "";
  if (disposition != CREATE_ALWAYS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (path.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  if (!standin_impl::ParentExists(path)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  standin_impl::FileEntry& entry = F().files[UpperPath(path)];
  if (entry.directory) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (entry.path.empty()) entry.path = path;
  uintptr_t handle = F().nextHandle += 4;
  F().openFiles.insert(handle);
  return reinterpret_cast<HANDLE>(handle);
}

BOOL CloseHandle(HANDLE handle) {
  if (F().openFiles.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
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
  for (const auto& entry : F().files)
    if (!entry.second.directory) out.push_back(entry.second.path);
  return out;
}

}  // namespace standin
