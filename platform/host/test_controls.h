// The stand-in's test controls as its calls see them: every program-facing
// call passes the gate, which counts it, runs the hook and reports an armed
// fault.
#pragma once

#include "platform/host/host_windows.h"
#include "platform/host/standin_control.h"

namespace standin_impl {

// Counts a program-facing call, runs the hook and returns the error of a
// fault armed for it (0 for none). Calls made from inside the hook pass
// uncounted and unfaulted.
DWORD Gate(standin::Call call);

}  // namespace standin_impl
