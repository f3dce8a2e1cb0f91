// The stand-in's handle table: small multiples of four, the lowest free one
// reused first, each bound to its key and the rights it was opened with.
// A handle whose key was deleted stays open and reports ERROR_KEY_DELETED.
#pragma once

#include <memory>

#include "platform/host/host_windows.h"
#include "platform/host/key_tree.h"
#include "platform/host/merged_view.h"

namespace standin_impl {

bool IsPredefined(HKEY key);
HKEY NewHandle(const View& view, REGSAM access);
// Closes a handle; false when it was not open (counted as a stray close).
bool CloseHandleSlot(HKEY key);

// Resolves a handle to the copies of its key and the rights it was opened
// with. A handle whose held copy was deleted reports ERROR_KEY_DELETED,
// even where the other copy is still there.
LONG ResolveView(HKEY key, View* view, REGSAM* access);
// Resolves a handle to the copy of its key it holds (Held) and the rights
// it was opened with.
LONG Resolve(HKEY key, std::shared_ptr<Node>* node, REGSAM* access);
// Resolves a handle to its key and checks that it was opened with the
// rights `needed`.
LONG ResolveWithAccess(HKEY key, REGSAM needed, std::shared_ptr<Node>* node);

void ResetHandles();

}  // namespace standin_impl
