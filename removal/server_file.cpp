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

// Room for a file's name on its device: the device's name and the longest
// path below a drive letter, each at most kNameBufferLength long.
const DWORD kDeviceNameLength = 2 * kNameBufferLength;

// The kernel32 function `name`, or null where the system lacks it.
template <typename Function>
Function Kernel32Function(const char* name) {
  return FindSystemFunction<Function>(GetModuleHandleA("kernel32"), name);
}

// The ntdll function `name`, or null where the system lacks it.
template <typename Function>
Function NtdllFunction(const char* name) {
  return FindSystemFunction<Function>(GetModuleHandleA("ntdll"), name);
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

// Whether `path`, the drive letter's path of an open file, is `fullPath`,
// or the place WOW64 redirects `fullPath` to. Letter case does not count.
bool IsPlaceOf(const char* path, const char* fullPath) {
  return EqualsIgnoringAsciiCase(path, fullPath) || IsWow64PlaceOf(path, fullPath);
}

// Vista and later: whether the final path of `file`, as
// GetFinalPathNameByHandleA reports it, is the place of `fullPath`.
bool FinalPathIsPlaceOf(GetFinalPathFunction getFinalPath, HANDLE file, const char* fullPath) {
  // Room for the prefix, the longest full path and its terminator. Cleared,
  // so that a call that writes nothing leaves no path in it.
  char finalPath[kFinalPathPrefixLength + kNameBufferLength] = {};
  DWORD length =
      getFinalPath(file, finalPath, sizeof(finalPath), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  // Too small: Windows gives the size with the terminator, Wine the length
  // without it; either is at least the buffer's size.
  if (length == 0 || length >= sizeof(finalPath)) return false;
  if (std::memcmp(finalPath, kFinalPathPrefix, kFinalPathPrefixLength) != 0) return false;
  return IsPlaceOf(finalPath + kFinalPathPrefixLength, fullPath);
}

// Windows XP: whether the name of `file` on its device (after every
// junction and link on the way) is the path of `fullPath` below the device
// that its drive letter leads to, or the place WOW64 redirects it to.
bool DeviceNameIsPlaceOf(NtQueryObjectFunction queryObject, HANDLE file, const char* fullPath) {
  // A drive letter's path only: a network path's device is the
  // redirector's, which no drive letter names.
  if (fullPath[1] != ':') return false;
  const char drive[] = {fullPath[0], ':', 0};
  char device[kNameBufferLength];
  if (QueryDosDeviceA(drive, device, kNameBufferLength) == 0) return false;
  struct {
    OBJECT_NAME_INFORMATION info;
    WCHAR text[kDeviceNameLength];
  } name;
  if (queryObject(file, ObjectNameInformation, &name, sizeof(name), nullptr) != STATUS_SUCCESS)
    return false;
  // In the code page the path was opened in, each character as itself: a
  // character the code page lacks would otherwise take the place of a
  // similar one ("best fit"), and another file's name could read as the
  // registered path. Room for two bytes a character, as a double-byte code
  // page may need; cleared, so that the name ends in a terminator.
  char nativeName[2 * kDeviceNameLength] = {};
  BOOL lossy;  // written by every conversion that succeeds
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.info.Name.Buffer,
                                   name.info.Name.Length / sizeof(WCHAR), nativeName,
                                   sizeof(nativeName) - 1, nullptr, &lossy);
  if (length == 0 || lossy) return false;
  UINT deviceLength = static_cast<UINT>(std::strlen(device));
  if (!IsBelowFolder(nativeName, device, deviceLength)) return false;
  // The drive letter in place of its device.
  char path[kNameBufferLength] = {fullPath[0], ':'};
  if (!CopyString(path + 2, kNameBufferLength - 2, nativeName + deviceLength)) return false;
  return IsPlaceOf(path, fullPath);
}

}  // namespace

void DeleteServerFile(const char* longPath) {
  GetFinalPathFunction getFinalPath =
      Kernel32Function<GetFinalPathFunction>("GetFinalPathNameByHandleA");
  SetFileInformationFunction setFileInformation =
      Kernel32Function<SetFileInformationFunction>("SetFileInformationByHandle");
  bool finalPathCalls = getFinalPath && setFileInformation;
  NtQueryObjectFunction queryObject = NtdllFunction<NtQueryObjectFunction>("NtQueryObject");
  NtSetInformationFileFunction setInformationFile =
      NtdllFunction<NtSetInformationFileFunction>("NtSetInformationFile");
  // Without a way to check the handle, the file stays: a deletion by path
  // follows every junction on the way.
  if (!finalPathCalls && !(queryObject && setInformationFile)) return;
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
  // Anything else was reached through a junction or link on the way.
  if (finalPathCalls ? !FinalPathIsPlaceOf(getFinalPath, file.Get(), fullPath)
                     : !DeviceNameIsPlaceOf(queryObject, file.Get(), fullPath))
    return;
  // The file goes when the handle closes; a read-only or running one
  // refuses and stays as it was.
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (finalPathCalls) {
    setFileInformation(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition));
  } else {
    IO_STATUS_BLOCK status;
    setInformationFile(file.Get(), &status, &disposition, sizeof(disposition),
                       FileDispositionInformation);
  }
}
