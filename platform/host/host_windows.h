// The stand-in's declaration of the Windows API subset the program and its
// tests use: the same names, types and values as the system headers, backed
// by an in-memory registry and file table (platform/host/). Host builds only.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef size_t SIZE_T;
typedef uint8_t BOOLEAN;
typedef uint16_t USHORT;
typedef uint16_t WCHAR;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef uintptr_t ULONG_PTR;
typedef LONG LSTATUS;
typedef int BOOL;
typedef BOOL* LPBOOL;
typedef uint8_t BYTE;
typedef char CHAR;
typedef uint32_t REGSAM;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* PVOID;

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
struct HINSTANCE__;
typedef HINSTANCE__* HMODULE;
typedef intptr_t (*FARPROC)();
typedef void* HANDLE;
// The native calls' result: 0 for success, the top two bits set for an error.
typedef LONG NTSTATUS;
// A counted wide string, as the native calls give names.
typedef struct _UNICODE_STRING {
  USHORT Length;  // in bytes, without a terminator
  USHORT MaximumLength;
  WCHAR* Buffer;
} UNICODE_STRING;
typedef struct _OBJECT_NAME_INFORMATION {
  UNICODE_STRING Name;
} OBJECT_NAME_INFORMATION;
typedef struct _IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;
// Only the classes the program asks for keep their places.
typedef enum _OBJECT_INFORMATION_CLASS {
  ObjectBasicInformation,
  ObjectNameInformation
} OBJECT_INFORMATION_CLASS;
typedef enum _FILE_INFORMATION_CLASS {
  FileDirectoryInformation = 1,
  FileDispositionInformation = 13
} FILE_INFORMATION_CLASS;
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
typedef FILETIME* PFILETIME;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_BAD_LENGTH 24L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_KEY_DELETED 1018L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005L)
#define STATUS_INFO_LENGTH_MISMATCH ((NTSTATUS)0xC0000004L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022L)
#define STATUS_SHARING_VIOLATION ((NTSTATUS)0xC0000043L)
#define STATUS_CANNOT_DELETE ((NTSTATUS)0xC0000121L)
#define STATUS_KEY_DELETED ((NTSTATUS)0xC000017CL)

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_WRITE 0x40000000
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_NAME_NORMALIZED 0x0
#define VOLUME_NAME_DOS 0x0
#define CP_ACP 0
#define WC_NO_BEST_FIT_CHARS 0x00000400

typedef enum _FILE_INFO_BY_HANDLE_CLASS {
  FileBasicInfo,
  FileStandardInfo,
  FileNameInfo,
  FileRenameInfo,
  FileDispositionInfo
} FILE_INFO_BY_HANDLE_CLASS;

typedef struct _FILE_DISPOSITION_INFO {
  BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO;

// Only the policy the program sets; the others keep their places.
typedef enum _PROCESS_MITIGATION_POLICY {
  ProcessDEPPolicy,
  ProcessRedirectionTrustPolicy = 16
} PROCESS_MITIGATION_POLICY;

// The bit-fields alone, without the system header's union with a Flags
// member: an anonymous struct inside an anonymous union is an extension
// that clang's -Wnested-anon-types rejects even marked __extension__. The
// layout is the same (one DWORD, the first field in the lowest bit); the
// stand-in reads the DWORD by copying it.
typedef struct _PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY {
  DWORD EnforceRedirectionTrust : 1;
  DWORD AuditRedirectionTrust : 1;
  DWORD ReservedFlags : 30;
} PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY;

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_LINK 6
#define REG_MULTI_SZ 7

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define DELETE 0x00010000
#define WRITE_DAC 0x00040000
#define WRITE_OWNER 0x00080000
#define KEY_READ 0x00020019
#define KEY_WRITE 0x00020006
#define KEY_ALL_ACCESS 0x000F003F

#define REG_OPTION_NON_VOLATILE 0x0
#define REG_OPTION_CREATE_LINK 0x2
#define REG_OPTION_OPEN_LINK 0x8
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

// Registry.
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM access, LPVOID security, PHKEY result, LPDWORD disposition);
LONG RegCloseKey(HKEY key);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                      LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                      LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                      LPDWORD securityDescriptorLength, PFILETIME lastWriteTime);

// Native calls, exported by "ntdll" and found there with GetProcAddress.
NTSTATUS WINAPI NtDeleteKey(HANDLE key);
ULONG WINAPI RtlNtStatusToDosError(NTSTATUS status);
NTSTATUS WINAPI NtQueryObject(HANDLE object, OBJECT_INFORMATION_CLASS kind, PVOID information,
                              ULONG length, PULONG returnLength);
NTSTATUS WINAPI NtSetInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information,
                                     ULONG length, FILE_INFORMATION_CLASS kind);

// Kernel.
HMODULE GetModuleHandleA(LPCSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
LPSTR lstrcpyA(LPSTR destination, LPCSTR source);
BOOL DeleteFileA(LPCSTR fileName);
DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength);
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD bufferLength);
DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart);
DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR filePath, DWORD bufferLength, DWORD flags);
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass,
                                LPVOID information, DWORD bufferSize);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD size);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideLength, LPSTR narrow,
                        int narrowSize, LPCSTR defaultChar, LPBOOL usedDefault);
UINT GetSystemWow64DirectoryA(LPSTR buffer, UINT size);
BOOL SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY policy, LPVOID buffer, SIZE_T length);
HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
// For the tests that make files through the platform.
BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security);
DWORD GetLastError();
void SetLastError(DWORD error);
