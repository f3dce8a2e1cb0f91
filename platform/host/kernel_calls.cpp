// The stand-in's module calls, the thread's last error and lstrcpyA.

#include <cstring>
#include <string>

#include "platform/host/file_table.h"
#include "platform/host/host_windows.h"
#include "platform/host/key_tree.h"
#include "platform/host/test_controls.h"

namespace {
HMODULE const kKernel32 = reinterpret_cast<HMODULE>(uintptr_t{0x7b000000});
thread_local DWORD lastError = 0;
}  // namespace

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (DWORD error = standin_impl::Gate(standin::Call::GetModuleHandleA)) {
    lastError = error;
    return nullptr;
  }
  std::string name = standin_impl::Upper(moduleName ? moduleName : "");
  if (name == "KERNEL32" || name == "KERNEL32.DLL") return kKernel32;
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
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&GetLongPathNameA));
  lastError = ERROR_PROC_NOT_FOUND;
  return nullptr;
}

LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
  std::memmove(destination, source, std::strlen(source) + 1);
  return destination;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }
