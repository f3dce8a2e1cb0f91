// The stand-in's file table and the kernel's file calls on it.

#include "platform/host/file_table.h"

#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

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

// An open file handle: the file it was opened on (its key), the path its
// final path reports, the path as it was opened (after the links on the
// way), the rights it holds and whether the file goes when it closes. A
// handle of CREATE_ALWAYS has an empty key.
struct OpenFile {
  std::string key;
  std::string finalPath;
  std::string openedPath;
  DWORD access = 0;
  bool deletePending = false;
};

struct FileTable {
  uintptr_t nextHandle = 0x100;
  std::map<uintptr_t, OpenFile> openFiles;
  size_t invalidCloses = 0;
  std::map<std::string, FileEntry> files;          // by upper path
  std::map<std::string, std::string> shortToLong;  // upper short -> long
  std::map<std::string, std::string> links;        // upper folder -> target
  std::vector<std::string> deleteFileNames;        // names asked for deletion
  std::string systemDirectory = "C:\\Windows\\System32";
  std::string wow64Directory;  // empty: a 32-bit system
  std::map<std::string, std::string> devices{
      {"C:", "\\Device\\HarddiskVolume1"}};  // upper drive -> device
};

FileTable& F() {
  static FileTable table;
  return table;
}

// The path as the system reads it. Like the system's own path parsing, "/"
// separates as "\\" does, a run of separators counts as one, and dots and
// spaces that end the last component are dropped ("Server.dll." is
// "Server.dll").
std::string CanonicalPath(const std::string& path) {
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
  return out;
}

// The key of a path in the table: its canonical form, upper cased.
std::string UpperPath(const std::string& path) { return Upper(CanonicalPath(path)); }

// The key of the file or folder that `path` reaches: a short alias taken
// for its long path, and every folder above the last level that is a link
// replaced by its target, as often as links lead on (at most 32 times, as
// the system gives up on a loop).
std::string ResolvedKey(const std::string& path) {
  std::string key = UpperPath(path);
  auto alias = F().shortToLong.find(key);
  if (alias != F().shortToLong.end()) key = UpperPath(alias->second);
  for (int hops = 0; hops < 32; ++hops) {
    bool followed = false;
    for (size_t slash = key.find('\\'); slash != std::string::npos;
         slash = key.find('\\', slash + 1)) {
      auto link = F().links.find(key.substr(0, slash));
      if (link == F().links.end()) continue;
      key = UpperPath(link->second) + key.substr(slash);
      followed = true;
      break;
    }
    if (!followed) break;
  }
  return key;
}

// The entry that `path` reaches, or null.
FileEntry* Find(const std::string& path) {
  auto it = F().files.find(ResolvedKey(path));
  return it == F().files.end() ? nullptr : &it->second;
}

// Whether the directory that holds `path` exists: a drive's root always does.
bool ParentExists(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return false;
  std::string parent = path.substr(0, slash);
  if (parent.size() == 2 && parent[1] == ':') return true;
  FileEntry* entry = Find(parent);
  return entry && entry->directory;
}

// Copies `text` into `buffer` of `size` characters the way the kernel's
// path calls do: its length without the terminator when it fits, else the
// size it needs with the terminator, the buffer untouched.
DWORD ReturnPath(const std::string& text, LPSTR buffer, DWORD size) {
  if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::memmove(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
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
size_t OpenFileCount() { return F().openFiles.size(); }
size_t InvalidFileCloseCount() { return F().invalidCloses; }

}  // namespace standin_impl

using standin_impl::F;
using standin_impl::Find;
using standin_impl::Gate;
using standin_impl::ResolvedKey;
using standin_impl::UpperPath;

BOOL DeleteFileA(LPCSTR fileName) {
  if (DWORD error = Gate(standin::Call::DeleteFileA)) {
    SetLastError(error);
    return FALSE;
  }
  if (fileName) F().deleteFileNames.push_back(fileName);
  if (!fileName || !*fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  standin_impl::FileTable& f = F();
  auto it = f.files.find(ResolvedKey(fileName));
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
  if (!Find(shortPath)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  // Through a link, the path through it: each level is looked up by name.
  result = alias != f.shortToLong.end() ? alias->second : std::string(shortPath);
  return standin_impl::ReturnPath(result, longPath, bufferLength);
}

// Makes up a short form for every component that lacks one, "NAME~1.EXT"
// the way Windows does (Wine's differ: the tests ask for them, never guess).
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD bufferLength) {
  standin_impl::FileTable& f = F();
  if (!longPath || !Find(longPath)) {
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

namespace {

HANDLE NewFileHandle(standin_impl::OpenFile open) {
  uintptr_t handle = F().nextHandle += 4;
  F().openFiles[handle] = std::move(open);
  return reinterpret_cast<HANDLE>(handle);
}

standin_impl::OpenFile* OpenFileOf(HANDLE handle) {
  auto it = F().openFiles.find(reinterpret_cast<uintptr_t>(handle));
  return it == F().openFiles.end() ? nullptr : &it->second;
}

// Opens an existing file with OPEN_EXISTING: folders above it followed
// through links, the last level taken as itself. A folder refuses (the
// stand-in has no FILE_FLAG_BACKUP_SEMANTICS), and so does a file held
// open without delete sharing when delete access is asked for.
HANDLE OpenExisting(const std::string& path, DWORD access) {
  if (path.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  std::string key = ResolvedKey(path);
  auto it = F().files.find(key);
  if (it == F().files.end()) {
    SetLastError(standin_impl::ParentExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (it->second.directory) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if ((access & DELETE) && it->second.deleteError == ERROR_SHARING_VIOLATION) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  if (access & DELETE) F().deleteFileNames.push_back(path);
  standin_impl::OpenFile open;
  open.key = key;
  // A UNC path's as "\\?\UNC\server\share\...".
  const std::string& own = it->second.path;
  bool unc = own.size() > 1 && own[0] == '\\' && own[1] == '\\';
  open.finalPath = unc ? "\\\\?\\UNC" + standin_impl::CanonicalPath(own.substr(1))
                       : "\\\\?\\" + standin_impl::CanonicalPath(own);
  // As opened, short names as given, where no link led elsewhere; the
  // file's own path where one did.
  auto alias = F().shortToLong.find(UpperPath(path));
  std::string named = alias == F().shortToLong.end() ? path : alias->second;
  open.openedPath = standin_impl::CanonicalPath(UpperPath(named) == key ? path : it->second.path);
  open.access = access;
  return NewFileHandle(std::move(open));
}

}  // namespace

// Makes (or empties) a file with CREATE_ALWAYS, or opens one with
// OPEN_EXISTING; no other disposition is modelled. Sharing is not checked
// beyond what LockFile sets.
HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
  if (DWORD error = Gate(standin::Call::CreateFileA)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = fileName ? fileName : "";
  if (disposition == OPEN_EXISTING) return OpenExisting(path, access);
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
  standin_impl::FileEntry& entry = F().files[ResolvedKey(path)];
  if (entry.directory) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (entry.path.empty()) entry.path = path;
  return NewFileHandle(standin_impl::OpenFile());
}

// Closes a file handle; a file marked for deletion through it goes now.
BOOL CloseHandle(HANDLE handle) {
  auto it = F().openFiles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == F().openFiles.end()) {
    F().invalidCloses++;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second.deletePending) F().files.erase(it->second.key);
  F().openFiles.erase(it);
  return TRUE;
}

// The path of the file a handle was opened on, with the "\\?\" prefix;
// only the flags 0 (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS) are modelled.
// The buffer's content is undefined when the call fails: an injected
// failure fills it with the path all the same, so that a caller that reads
// it after a failure is caught.
DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR filePath, DWORD bufferLength, DWORD flags) {
  standin_impl::OpenFile* open = OpenFileOf(file);
  if (DWORD error = Gate(standin::Call::GetFinalPathNameByHandleA)) {
    if (open && !open->key.empty())
      standin_impl::ReturnPath(open->finalPath, filePath, bufferLength);
    SetLastError(error);
    return 0;
  }
  if (!open || open->key.empty()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (flags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return standin_impl::ReturnPath(open->finalPath, filePath, bufferLength);
}

// Only FileDispositionInfo is modelled: it marks the file (or unmarks it)
// for deletion when the handle closes. A file that refuses deletion
// (read-only, a loaded module) fails with its error, as DeleteFileA does.
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass,
                                LPVOID information, DWORD bufferSize) {
  if (DWORD error = Gate(standin::Call::SetFileInformationByHandle)) {
    SetLastError(error);
    return FALSE;
  }
  standin_impl::OpenFile* open = OpenFileOf(file);
  if (!open || open->key.empty()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (informationClass != FileDispositionInfo || !information) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (bufferSize < sizeof(FILE_DISPOSITION_INFO)) {
    SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
  }
  if (!(open->access & DELETE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto it = F().files.find(open->key);
  if (it != F().files.end() && it->second.deleteError) {
    SetLastError(it->second.deleteError);
    return FALSE;
  }
  open->deletePending = static_cast<FILE_DISPOSITION_INFO*>(information)->DeleteFile != 0;
  return TRUE;
}

namespace {

// The wide characters of a path: each byte its Latin-1 character, a UTF-8
// sequence of two or three bytes the one character it encodes.
std::vector<WCHAR> WideOf(const std::string& text) {
  std::vector<WCHAR> wide;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    auto follows = [&](size_t n) {
      for (size_t k = 1; k <= n; ++k)
        if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
          return false;
      return true;
    };
    if ((c & 0xE0) == 0xC0 && follows(1)) {
      wide.push_back(static_cast<WCHAR>(((c & 0x1F) << 6) | (text[i + 1] & 0x3F)));
      i += 1;
    } else if ((c & 0xF0) == 0xE0 && follows(2)) {
      wide.push_back(static_cast<WCHAR>(((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) |
                                        (text[i + 2] & 0x3F)));
      i += 2;
    } else {
      wide.push_back(c);
    }
  }
  return wide;
}

// The name of an open file on its device: the device of its drive, then
// the path as it was opened. Empty where its drive has no device.
std::vector<WCHAR> DeviceNameOf(const standin_impl::OpenFile& open) {
  auto device = F().devices.find(standin_impl::Upper(open.openedPath.substr(0, 2)));
  if (device == F().devices.end()) return {};
  return WideOf(device->second + open.openedPath.substr(2));
}

// Writes `name` into `information` of `length` bytes as an
// OBJECT_NAME_INFORMATION, the characters and a terminator right after
// the header; false when they do not fit.
bool WriteObjectName(const std::vector<WCHAR>& name, PVOID information, ULONG length) {
  size_t size = sizeof(OBJECT_NAME_INFORMATION) + (name.size() + 1) * sizeof(WCHAR);
  if (!information || length < size) return false;
  auto* info = static_cast<OBJECT_NAME_INFORMATION*>(information);
  info->Name.Buffer = reinterpret_cast<WCHAR*>(info + 1);
  info->Name.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  info->Name.MaximumLength = static_cast<USHORT>(info->Name.Length + sizeof(WCHAR));
  std::memcpy(info->Name.Buffer, name.data(), name.size() * sizeof(WCHAR));
  info->Name.Buffer[name.size()] = 0;
  return true;
}

}  // namespace

// Only ObjectNameInformation of a file handle is modelled: the device of
// its drive, then its path as it was opened, after every link on the way
// (the file's own path where a link led elsewhere, short names kept where
// none did), as on Windows. Wine reports "\??\C:\..." in its place
// (platform/host/README.md). A buffer too small for the header fails with
// STATUS_INFO_LENGTH_MISMATCH, one too small for the name and its
// terminator with STATUS_BUFFER_OVERFLOW; neither writes anything, and
// both report the size needed, as Wine does. An injected failure writes
// the name all the same where it fits, so that a caller that reads it
// after a failure is caught.
NTSTATUS WINAPI NtQueryObject(HANDLE object, OBJECT_INFORMATION_CLASS kind, PVOID information,
                              ULONG length, PULONG returnLength) {
  standin_impl::OpenFile* open = OpenFileOf(object);
  if (DWORD error = Gate(standin::Call::NtQueryObject)) {
    if (open && !open->key.empty()) WriteObjectName(DeviceNameOf(*open), information, length);
    return static_cast<NTSTATUS>(error);
  }
  if (!open || open->key.empty()) return STATUS_INVALID_HANDLE;
  if (kind != ObjectNameInformation) return STATUS_INVALID_PARAMETER;
  std::vector<WCHAR> name = DeviceNameOf(*open);
  if (name.empty()) return STATUS_INVALID_HANDLE;
  ULONG size = static_cast<ULONG>(sizeof(OBJECT_NAME_INFORMATION) + (name.size() + 1) * 2);
  if (returnLength) *returnLength = size;
  if (length < sizeof(OBJECT_NAME_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
  if (!WriteObjectName(name, information, length)) return STATUS_BUFFER_OVERFLOW;
  return STATUS_SUCCESS;
}

// Only FileDispositionInformation is modelled, as SetFileInformationByHandle
// models FileDispositionInfo, with the native results Wine gives: a handle
// without DELETE access STATUS_ACCESS_DENIED, a file that refuses deletion
// (read-only, a loaded module) STATUS_CANNOT_DELETE. The status block
// receives the result.
NTSTATUS WINAPI NtSetInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information,
                                     ULONG length, FILE_INFORMATION_CLASS kind) {
  NTSTATUS result = static_cast<NTSTATUS>(Gate(standin::Call::NtSetInformationFile));
  standin_impl::OpenFile* open = OpenFileOf(file);
  if (result == STATUS_SUCCESS) {
    if (!open || open->key.empty()) {
      result = STATUS_INVALID_HANDLE;
    } else if (kind != FileDispositionInformation || !information || !status) {
      result = STATUS_INVALID_PARAMETER;
    } else if (length < sizeof(FILE_DISPOSITION_INFO)) {
      result = STATUS_INFO_LENGTH_MISMATCH;
    } else if (!(open->access & DELETE)) {
      result = STATUS_ACCESS_DENIED;
    } else {
      auto it = F().files.find(open->key);
      if (it != F().files.end() && it->second.deleteError) result = STATUS_CANNOT_DELETE;
    }
  }
  if (status) status->Status = result;
  if (result == STATUS_SUCCESS)
    open->deletePending = static_cast<FILE_DISPOSITION_INFO*>(information)->DeleteFile != 0;
  return result;
}

// The device a drive letter ("C:") leads to, followed by two terminators,
// as Wine gives it; the count written, both terminators included. An
// unknown drive fails with ERROR_FILE_NOT_FOUND, a buffer too small with
// ERROR_INSUFFICIENT_BUFFER, and neither writes anything. An injected
// failure writes the device all the same where it fits, so that a caller
// that reads it after a failure is caught.
DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD size) {
  DWORD error = Gate(standin::Call::QueryDosDeviceA);
  auto device = F().devices.find(standin_impl::Upper(deviceName ? deviceName : ""));
  if (error) {
    if (device != F().devices.end() && targetPath && size > device->second.size() + 1)
      std::memcpy(targetPath, device->second.c_str(), device->second.size() + 1);
    SetLastError(error);
    return 0;
  }
  if (device == F().devices.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  DWORD count = static_cast<DWORD>(device->second.size() + 2);
  if (!targetPath || size < count) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(targetPath, device->second.c_str(), count - 1);
  targetPath[count - 1] = 0;
  return count;
}

// The full path as the system makes it: relative to the stand-in's current
// folder, the root of C: (which is also the current folder of the drive C:
// that "C:name" reads), with "." and ".." taken away and the rest read as
// every file call reads it.
// An injected failure fills the buffer all the same, as for the final path.
DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart) {
  DWORD error = Gate(standin::Call::GetFullPathNameA);
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::string path = fileName;
  for (char& c : path)
    if (c == '/') c = '\\';
  // A UNC path ("\\\\server\\share\\..."): its two separators stay.
  bool unc = path.size() > 1 && path[0] == '\\' && path[1] == '\\';
  if (!unc && (path.size() < 2 || path[1] != ':'))
    path = "C:" + (path[0] == '\\' ? path : "\\" + path);
  // "C:name": the drive's current folder, its root here.
  if (!unc && (path.size() == 2 || path[2] != '\\')) path.insert(2, "\\");
  std::vector<std::string> parts;
  size_t start = unc ? 2 : 3;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string full = unc ? "" : path.substr(0, 2);
  for (const std::string& part : parts) full += "\\" + part;
  if (parts.empty()) full += "\\";
  full = standin_impl::CanonicalPath(full);
  if (unc) full = "\\" + full;
  DWORD length = standin_impl::ReturnPath(full, buffer, bufferLength);
  if (error) {
    SetLastError(error);
    return 0;
  }
  if (filePart && length < bufferLength) *filePart = buffer + full.find_last_of('\\') + 1;
  return length;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (DWORD error = Gate(standin::Call::GetSystemDirectoryA)) {
    SetLastError(error);
    return 0;
  }
  return standin_impl::ReturnPath(F().systemDirectory, buffer, size);
}

// ERROR_CALL_NOT_IMPLEMENTED on a 32-bit system, as on Windows.
UINT GetSystemWow64DirectoryA(LPSTR buffer, UINT size) {
  if (DWORD error = Gate(standin::Call::GetSystemWow64DirectoryA)) {
    SetLastError(error);
    return 0;
  }
  if (F().wow64Directory.empty()) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  return standin_impl::ReturnPath(F().wow64Directory, buffer, size);
}

// ---------------------------------------------------------------------------
// Control interface: the file table as tests shape it.

namespace standin {

void LinkFolder(const std::string& path, const std::string& target) {
  std::string key = UpperPath(path);
  standin_impl::FileTable& f = F();
  for (auto it = f.files.begin(); it != f.files.end();)
    it = it->first == key || it->first.compare(0, key.size() + 1, key + "\\") == 0
             ? f.files.erase(it)
             : std::next(it);
  f.links[key] = target;
  standin_impl::FileEntry& entry = f.files[key];
  entry.path = path;
  entry.directory = true;
}

void SetDriveDevice(const std::string& drive, const std::string& device) {
  std::string key = standin_impl::Upper(drive);
  if (device.empty())
    F().devices.erase(key);
  else
    F().devices[key] = device;
}

void SetSystemFolders(const std::string& system, const std::string& wow64) {
  F().systemDirectory = system;
  F().wow64Directory = wow64;
}

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

bool FileExists(const std::string& path) { return Find(path) != nullptr; }

const std::vector<std::string>& DeleteFileNames() { return F().deleteFileNames; }

std::vector<std::string> Files() {
  std::vector<std::string> out;
  for (const auto& entry : F().files)
    if (!entry.second.directory) out.push_back(entry.second.path);
  return out;
}

}  // namespace standin
