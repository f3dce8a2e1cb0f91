#include "removal/server_file.h"

#include <cstring>

#include "platform/system_function.h"
#include "registry/registry_key.h"
#include "removal/removal_run.h"

namespace {

typedef DWORD(WINAPI* GetFinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);
typedef BOOL(WINAPI* SetFileInformationFunction)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
typedef UINT(WINAPI* GetSystemWow64DirectoryFunction)(LPSTR, UINT);

// What GetFinalPathNameByHandleA puts before a drive letter's path.
const char kFinalPathPrefix[] = "\\\\?\\";
const DWORD kFinalPathPrefixLength = sizeof(kFinalPathPrefix) - 1;

// The kernel32 function `name`, or null where the system lacks it.
template <typename Function>
Function Kernel32Function(const char* name) {
  return FindSystemFunction<Function>(GetModuleHandleA("kernel32"), name);
}

// Owns one open file handle and closes it when it leaves scope.
class ScopedFile {
 public:
  // Takes `handle`, which may be INVALID_HANDLE_VALUE.
  explicit ScopedFile(HANDLE handle) : handle_(handle) {}
  // Closes the handle when one was opened.
  ~ScopedFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

  // The handle, or INVALID_HANDLE_VALUE.
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Whether `path` lies below the folder whose path is the first `length`
// characters of `folder` (letter case aside). False for a length of 0 or
// kNameBufferLength and more: the call that gave the folder failed, or it
// did not fit.
bool IsBelowFolder(const char* path, const char* folder, UINT length) {
  if (length == 0 || length >= kNameBufferLength) return false;
  char head[kNameBufferLength];
  std::memcpy(head, path, length);
  head[length] = 0;
  return EqualsIgnoringAsciiCase(head, folder) && path[length] == '\\';
}

// Whether `path` is the place where WOW64's file system redirection takes
// `fullPath` for a 32-bit process: below the 32-bit system folder what
// `fullPath` names below the system folder. Never on a 32-bit system,
// which has no 32-bit system folder.
bool IsWow64PlaceOf(const char* path, const char* fullPath) {
  GetSystemWow64DirectoryFunction getWow64Directory =
      Kernel32Function<GetSystemWow64DirectoryFunction>("GetSystemWow64DirectoryA");
  if (!getWow64Directory) return false;
  char folder[kNameBufferLength];
  UINT systemLength = GetSystemDirectoryA(folder, kNameBufferLength);
  if (!IsBelowFolder(fullPath, folder, systemLength)) return false;
  UINT wow64Length = getWow64Directory(folder, kNameBufferLength);
  if (!IsBelowFolder(path, folder, wow64Length)) return false;
  return EqualsIgnoringAsciiCase(path + wow64Length, fullPath + systemLength);
}

// Whether `finalPath`, as GetFinalPathNameByHandleA reports it, is
// `fullPath`, or the place WOW64 redirects `fullPath` to. Letter case does
// not count.
bool IsFinalPathOf(const char* finalPath, const char* fullPath) {
  if (std::memcmp(finalPath, kFinalPathPrefix, kFinalPathPrefixLength) != 0) return false;
  const char* path = finalPath + kFinalPathPrefixLength;
  return EqualsIgnoringAsciiCase(path, fullPath) || IsWow64PlaceOf(path, fullPath);
}

}  // namespace

void DeleteServerFile(const char* longPath) {
  GetFinalPathFunction getFinalPath =
      Kernel32Function<GetFinalPathFunction>("GetFinalPathNameByHandleA");
  SetFileInformationFunction setFileInformation =
      Kernel32Function<SetFileInformationFunction>("SetFileInformationByHandle");
  if (!getFinalPath || !setFileInformation) {
    DeleteFileA(longPath);
    return;
  }
  // The path the system opens: separators, dots and ".." as it reads them.
  char fullPath[kNameBufferLength];
  DWORD length = GetFullPathNameA(longPath, kNameBufferLength, fullPath, nullptr);
  if (length == 0 || length >= kNameBufferLength) return;
  // As itself (a link at the last level is not followed, as DeleteFileA
  // does not), and shared as DeleteFileA shares it: a file open without
  // delete sharing refuses the open.
  ScopedFile file(CreateFileA(fullPath, DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) return;
  // Room for the prefix, the longest full path and its terminator. Cleared,
  // so that a call that writes nothing leaves no path in it.
  char finalPath[kFinalPathPrefixLength + kNameBufferLength] = {};
  length = getFinalPath(file.Get(), finalPath, sizeof(finalPath),
                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  // Too small: Windows gives the size with the terminator, Wine the length
  // without it; either is at least the buffer's size.
  if (length == 0 || length >= sizeof(finalPath)) return;
  // Anything else was reached through a junction or link on the way.
  if (!IsFinalPathOf(finalPath, fullPath)) return;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  // The file goes when the handle closes; a read-only or running one
  // refuses and stays as it was.
  setFileInformation(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition));
}
