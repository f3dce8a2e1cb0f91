// The stand-in's key faults and open hook (key_faults.h).

#include "platform/host/key_faults.h"

#include <functional>
#include <vector>

namespace standin_impl {

namespace {

struct KeyFaultEntry {
  standin::Call call;
  std::string upperPath;
  std::string upperValue;  // empty: every value
  REGSAM allowed;          // opens only: 0, or the rights that still open
  DWORD error;
};

struct KeyControls {
  std::vector<KeyFaultEntry> faults;
  std::function<void(const std::string&)> openHook;
  bool inHook = false;
};

KeyControls& K() {
  static KeyControls controls;
  return controls;
}

}  // namespace

std::string StoredPath(const Node& node) {
  std::string path;
  for (const Node* n = &node; n->parent; n = n->parent)
    path = path.empty() ? n->name : n->name + "\\" + path;
  return path;
}

DWORD KeyFault(standin::Call call, const Node& node, const char* valueName, REGSAM access) {
  KeyControls& k = K();
  if (k.faults.empty()) return 0;
  std::string path = Upper(StoredPath(node));
  std::string value = Upper(valueName ? valueName : "");
  for (const KeyFaultEntry& f : k.faults) {
    if (f.call != call || f.upperPath != path) continue;
    if (!f.upperValue.empty() && f.upperValue != value) continue;
    if (f.allowed && (access & ~f.allowed) == 0) continue;
    return f.error;
  }
  return 0;
}

void AfterOpen(const Node& node) {
  KeyControls& k = K();
  if (!k.openHook || k.inHook) return;
  k.inHook = true;
  k.openHook(StoredPath(node));
  k.inHook = false;
}

void ClearKeyFaults() { K().faults.clear(); }
void ResetKeyFaults() { K() = KeyControls(); }

}  // namespace standin_impl

namespace standin {

void FailOnKey(Call call, const std::string& keyPath, DWORD error, const std::string& valueName,
               REGSAM allowed) {
  std::string path;
  for (const std::string& part : standin_impl::SplitPath(keyPath))
    path += (path.empty() ? "" : "\\") + part;
  standin_impl::K().faults.push_back(
      {call, standin_impl::Upper(path), standin_impl::Upper(valueName), allowed, error});
}

void SetOpenHook(std::function<void(const std::string& keyPath)> hook) {
  standin_impl::K().openHook = std::move(hook);
}

}  // namespace standin
