// The stand-in's module calls, the thread's last error, the fold of a
// native result into an error code, and lstrcpyA.

#include <cstring>
#include <string>

#include "platform/host/file_table.h"
#include "platform/host/host_windows.h"
#include "platform/host/key_tree.h"
#include "platform/host/test_controls.h"

namespace {
HMODULE const kKernel32 = reinterpret_cast<HMODULE>(uintptr_t{0x7b000000});
HMODULE const kNtdll = reinterpret_cast<HMODULE>(uintptr_t{0x7bc00000});

// A function of the stand-in as the generic pointer GetProcAddress gives.
template <typename Function>
FARPROC AsProc(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}
thread_local DWORD lastError = 0;
}  // namespace

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (DWORD error = standin_impl::Gate(standin::Call::GetModuleHandleA)) {
    lastError = error;
    return nullptr;
  }
  std::string name = standin_impl::Upper(moduleName ? moduleName : "");
  if (name == "KERNEL32" || name == "KERNEL32.DLL") return kKernel32;
  if (name == "NTDLL" || name == "NTDLL.DLL") return kNtdll;
  lastError = ERROR_MOD_NOT_FOUND;
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  if (DWORD error = standin_impl::Gate(standin::Call::GetProcAddress)) {
    lastError = error;
    return nullptr;
  }
  if (module == kKernel32 && procName && std::strcmp(procName, "GetLongPathNameA") == 0 &&
      standin_impl::LongPathFunctionPresent())
    return AsProc(&GetLongPathNameA);
  if (module == kNtdll && procName && std::strcmp(procName, "NtDeleteKey") == 0 &&
      standin_impl::NtDeleteKeyPresent())
    return AsProc(&NtDeleteKey);
  if (module == kNtdll && procName && std::strcmp(procName, "RtlNtStatusToDosError") == 0)
    return AsProc(&RtlNtStatusToDosError);
  lastError = ERROR_PROC_NOT_FOUND;
  return nullptr;
}

// The results the native key deletion gives; any other failure folds to
// ERROR_MR_MID_NOT_FOUND, as the real fold does for a status it does not know.
ULONG WINAPI RtlNtStatusToDosError(NTSTATUS status) {
  switch (static_cast<uint32_t>(status)) {
    case STATUS_SUCCESS:
      return ERROR_SUCCESS;
    case static_cast<uint32_t>(STATUS_ACCESS_DENIED):
    case static_cast<uint32_t>(STATUS_CANNOT_DELETE):
      return ERROR_ACCESS_DENIED;
    case static_cast<uint32_t>(STATUS_INVALID_HANDLE):
      return ERROR_INVALID_HANDLE;
    case static_cast<uint32_t>(STATUS_KEY_DELETED):
      return ERROR_KEY_DELETED;
    default:
      return ERROR_MR_MID_NOT_FOUND;
  }
}

LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
  std::memmove(destination, source, std::strlen(source) + 1);
  return destination;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }
