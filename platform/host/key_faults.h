// The stand-in's faults tied to what a call acts on (a key, or a value of
// it) rather than to when the call is made, and the hook that runs after a
// key is opened: the controls that let two different orders of the same
// calls meet the same protections and the same changes.
#pragma once

#include <string>

#include "platform/host/host_windows.h"
#include "platform/host/key_tree.h"
#include "platform/host/standin_control.h"

namespace standin_impl {

// The error of a key fault armed for `call` on `node`, for the value
// `valueName` (null: none) and the rights `access` asked for (opens only);
// 0 for none.
DWORD KeyFault(standin::Call call, const Node& node, const char* valueName = nullptr,
               REGSAM access = 0);
// Runs the open hook for a key just opened.
void AfterOpen(const Node& node);
// Disarms every key fault; ResetKeyFaults also drops the open hook.
void ClearKeyFaults();
void ResetKeyFaults();

// The stored path of a key below the classes root, levels joined by '\'.
std::string StoredPath(const Node& node);

}  // namespace standin_impl
