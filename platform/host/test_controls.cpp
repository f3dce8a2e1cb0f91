// The stand-in's test controls: faults, call counts, the hook, and Reset.

#include "platform/host/test_controls.h"

#include <vector>

#include "platform/host/file_table.h"
#include "platform/host/handle_table.h"
#include "platform/host/kernel_calls.h"
#include "platform/host/key_faults.h"
#include "platform/host/key_tree.h"

namespace standin_impl {

namespace {

struct Fault {
  standin::Call call;
  uint64_t remaining;
  DWORD error;
};

struct Controls {
  uint64_t calls[static_cast<size_t>(standin::Call::Count)] = {};
  std::vector<Fault> faults;
  std::function<void(standin::Call)> hook;
  bool inHook = false;
};

Controls& C() {
  static Controls controls;
  return controls;
}

}  // namespace

DWORD Gate(standin::Call call) {
  Controls& c = C();
  if (c.inHook) return 0;
  c.calls[static_cast<size_t>(call)]++;
  c.calls[static_cast<size_t>(standin::Call::Any)]++;
  if (c.hook) {
    c.inHook = true;
    c.hook(call);
    c.inHook = false;
  }
  DWORD error = 0;
  for (auto it = c.faults.begin(); it != c.faults.end();) {
    if (it->call == call || it->call == standin::Call::Any) {
      if (--it->remaining == 0) {
        if (error == 0) error = it->error;
        it = c.faults.erase(it);
        continue;
      }
    }
    ++it;
  }
  return error;
}

}  // namespace standin_impl

namespace standin {

using standin_impl::C;

const char* CallName(Call call) {
  static const char* const kNames[] = {"Any",
                                       "RegOpenKeyExA",
                                       "RegCloseKey",
                                       "RegEnumKeyExA",
                                       "RegEnumValueA",
                                       "RegQueryValueExA",
                                       "RegDeleteValueA",
                                       "RegDeleteKeyA",
                                       "GetModuleHandleA",
                                       "GetProcAddress",
                                       "DeleteFileA",
                                       "GetLongPathNameA",
                                       "NtDeleteKey",
                                       "CreateFileA",
                                       "GetFullPathNameA",
                                       "GetFinalPathNameByHandleA",
                                       "SetFileInformationByHandle",
                                       "GetSystemDirectoryA",
                                       "GetSystemWow64DirectoryA",
                                       "SetProcessMitigationPolicy",
                                       "RegQueryInfoKeyA",
                                       "QueryDosDeviceA",
                                       "NtQueryObject",
                                       "NtSetInformationFile",
                                       "WideCharToMultiByte"};
  size_t i = static_cast<size_t>(call);
  return i < sizeof(kNames) / sizeof(kNames[0]) ? kNames[i] : "?";
}

void Reset() {
  standin_impl::ResetTree();
  standin_impl::ResetHandles();
  standin_impl::ResetFiles();
  standin_impl::ResetKernel();
  standin_impl::ResetKeyFaults();
  C() = standin_impl::Controls();
}

uint64_t CallCount(Call call) { return C().calls[static_cast<size_t>(call)]; }

void FailCall(Call call, uint64_t n, DWORD error) {
  if (n > 0) C().faults.push_back(standin_impl::Fault{call, n, error});
}

void ClearFaults() {
  C().faults.clear();
  standin_impl::ClearKeyFaults();
}

void SetCallHook(std::function<void(Call)> hook) { C().hook = std::move(hook); }

}  // namespace standin
