// The stand-in's class view: which copies of a key a handle reaches. The
// machine's classes (HKEY_LOCAL_MACHINE\Software\Classes) and the running
// user's (HKEY_CURRENT_USER\Software\Classes) are two trees; a key reached
// through HKEY_CLASSES_ROOT is merged from both, the user's copy over the
// machine's: reads, writes and deletions reach the user's copy where there
// is one, enumeration shows the union of both, each name once.
#pragma once

#include <memory>
#include <string>

#include "platform/host/host_windows.h"
#include "platform/host/key_tree.h"

namespace standin_impl {

struct View {
  std::shared_ptr<Node> user;     // the copy in the user's classes, or null
  std::shared_ptr<Node> machine;  // the copy in the machine's classes, or null
  bool merged = false;            // reached through HKEY_CLASSES_ROOT
};

// HKEY_CLASSES_ROOT itself: both roots, merged.
View ClassesRootView();
// The copy that reads, writes and deletions reach: the user's where there
// is one, else the machine's (for the classes root itself, the machine's).
std::shared_ptr<Node> Held(const View& view);
// A merged view that reached only the machine's copy looks again for the
// user's: a copy the user made since reaches the same handle.
void Refresh(View* view);

// Whether `key` is HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, which are
// modelled from their "Software\Classes" down only.
bool IsHiveRoot(HKEY key);
// For a hive root: the view of its classes root, with those two levels
// taken off the front of `*path`; false when the path leads elsewhere.
bool EnterClasses(HKEY key, std::string* path, View* view);

// Walks a relative path in each copy of `from`. Where the machine's copy is
// found, the user's is the user's key at its stored path (links in the
// machine's classes lead to the merged key at their target); where not,
// the path goes on in the user's copy alone.
View WalkView(const View& from, const std::string& path, Links links);

// The sub-key at `index` in the union of both copies' sub-keys, ordered by
// upper-cased name; null past the end.
const Node* SubKeyAt(const View& view, size_t index);
// The value at `index`: the user's copy's values in creation order, then
// the machine's whose names the user's lacks; null past the end.
const Value* ValueAt(const View& view, size_t index);
// The value `name` as the view reads it (the user's copy's first), and the
// copy that holds it in `*holder` when given; null when neither has it.
Value* FindViewValue(const View& view, const char* name, Node** holder = nullptr);

}  // namespace standin_impl
