// The stand-in's module calls, the process's mitigation policies, the
// thread's last error, the fold of a native result into an error code,
// lstrcpyA and the conversion of wide characters to the code page.

#include "platform/host/kernel_calls.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

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

struct Kernel {
  std::set<std::string> missing;                  // functions GetProcAddress does not find
  std::vector<std::pair<DWORD, DWORD>> policies;  // (policy, flags) set
};

Kernel& K() {
  static Kernel kernel;
  return kernel;
}

// The kernel32 functions the program looks up at run time.
FARPROC Kernel32Function(const std::string& name) {
  if (K().missing.count(name)) return nullptr;
  void (*function)() = nullptr;
  if (name == "GetLongPathNameA")
    function = reinterpret_cast<void (*)()>(&GetLongPathNameA);
  else if (name == "GetFinalPathNameByHandleA")
    function = reinterpret_cast<void (*)()>(&GetFinalPathNameByHandleA);
  else if (name == "SetFileInformationByHandle")
    function = reinterpret_cast<void (*)()>(&SetFileInformationByHandle);
  else if (name == "GetSystemWow64DirectoryA")
    function = reinterpret_cast<void (*)()>(&GetSystemWow64DirectoryA);
  else if (name == "SetProcessMitigationPolicy")
    function = reinterpret_cast<void (*)()>(&SetProcessMitigationPolicy);
  return reinterpret_cast<FARPROC>(function);
}

// The ntdll functions the program looks up at run time.
FARPROC NtdllFunction(const std::string& name) {
  if (K().missing.count(name)) return nullptr;
  if (name == "NtDeleteKey") return AsProc(&NtDeleteKey);
  if (name == "RtlNtStatusToDosError") return AsProc(&RtlNtStatusToDosError);
  if (name == "NtQueryObject") return AsProc(&NtQueryObject);
  if (name == "NtSetInformationFile") return AsProc(&NtSetInformationFile);
  return nullptr;
}

}  // namespace

void standin_impl::ResetKernel() { K() = Kernel(); }

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
  FARPROC function = nullptr;
  if (module == kKernel32 && procName) function = Kernel32Function(procName);
  if (module == kNtdll && procName) function = NtdllFunction(procName);
  if (!function) lastError = ERROR_PROC_NOT_FOUND;
  return function;
}

// Records the policy; only the redirection trust policy is modelled, and
// its structure must have the size the system expects.
BOOL SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY policy, LPVOID buffer, SIZE_T length) {
  if (DWORD error = standin_impl::Gate(standin::Call::SetProcessMitigationPolicy)) {
    lastError = error;
    return FALSE;
  }
  if (policy != ProcessRedirectionTrustPolicy || !buffer ||
      length != sizeof(PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY)) {
    lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  static_assert(sizeof(PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY) == sizeof(DWORD));
  DWORD flags = 0;
  std::memcpy(&flags, buffer, sizeof(flags));
  K().policies.emplace_back(static_cast<DWORD>(policy), flags);
  return TRUE;
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

// The stand-in's code page is Latin-1: units up to U+00FF are their own
// byte. Of the others, U+0100 and U+0101 have a best fit ("A", "a", as
// Windows-1252 has under Wine); every other one, and those two with
// WC_NO_BEST_FIT_CHARS, become the default character "?". Only CP_ACP is
// modelled. A buffer too small fails with ERROR_INSUFFICIENT_BUFFER, and an
// injected failure fails, after what fits is written and `usedDefault` is
// set, so that a caller that reads them after a failure is caught.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideLength, LPSTR narrow,
                        int narrowSize, LPCSTR defaultChar, LPBOOL usedDefault) {
  DWORD injected = standin_impl::Gate(standin::Call::WideCharToMultiByte);
  if (codePage != CP_ACP || !wide || wideLength == 0 || narrowSize < 0 || defaultChar ||
      (flags & ~static_cast<DWORD>(WC_NO_BEST_FIT_CHARS))) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  size_t units = 0;
  if (wideLength < 0) {
    while (wide[units]) ++units;
    ++units;  // the terminator is converted too
  } else {
    units = static_cast<size_t>(wideLength);
  }
  std::string out;
  bool usedDefaultChar = false;
  for (size_t i = 0; i < units; ++i) {
    WCHAR unit = wide[i];
    bool bestFit = !(flags & WC_NO_BEST_FIT_CHARS) && (unit == 0x100 || unit == 0x101);
    if (unit <= 0xFF) {
      out += static_cast<char>(unit);
    } else if (bestFit) {
      out += unit == 0x100 ? 'A' : 'a';
    } else {
      out += '?';
      usedDefaultChar = true;
    }
  }
  if (usedDefault) *usedDefault = usedDefaultChar;
  if (narrowSize == 0 && !injected) return static_cast<int>(out.size());
  if (narrow)
    std::memcpy(narrow, out.data(), std::min(out.size(), static_cast<size_t>(narrowSize)));
  if (injected || out.size() > static_cast<size_t>(narrowSize)) {
    lastError = injected ? injected : ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  return static_cast<int>(out.size());
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

namespace standin {

void SetKernel32FunctionPresent(const std::string& name, bool present) {
  if (present)
    K().missing.erase(name);
  else
    K().missing.insert(name);
}

void SetLongPathFunctionPresent(bool present) {
  SetKernel32FunctionPresent("GetLongPathNameA", present);
}

// The same set of missing functions: no name is both ntdll's and kernel32's.
void SetNtdllFunctionPresent(const std::string& name, bool present) {
  SetKernel32FunctionPresent(name, present);
}

void SetNtDeleteKeyPresent(bool present) { SetNtdllFunctionPresent("NtDeleteKey", present); }

const std::vector<std::pair<DWORD, DWORD>>& MitigationPolicies() { return K().policies; }

}  // namespace standin
