// The stand-in's class view: the user's classes over the machine's.

#include "platform/host/merged_view.h"

#include "platform/host/key_faults.h"

namespace standin_impl {

namespace {

// The single copy whose sub-keys (or values) are the view's, when only one
// has any; null when both do.
const Node* OnlyCopy(const View& view, bool values) {
  auto empty = [values](const std::shared_ptr<Node>& n) {
    return !n || (values ? n->values.empty() : n->children.empty());
  };
  if (empty(view.user)) return view.machine ? view.machine.get() : view.user.get();
  if (empty(view.machine)) return view.user.get();
  return nullptr;
}

// The user's copy of a key of the machine's classes: the user's key at the
// same stored path. A link in the machine's classes so leads to the merged
// key at its target.
std::shared_ptr<Node> UserCopy(const Node& machine) {
  if (UserRoot()->children.empty()) return nullptr;
  return Walk(UserRoot(), StoredPath(machine), Links::Raw);
}

}  // namespace

View ClassesRootView() {
  View view;
  view.user = UserRoot();
  view.machine = Root();
  view.merged = true;
  return view;
}

std::shared_ptr<Node> Held(const View& view) {
  if (view.user && !(view.user == UserRoot() && view.machine)) return view.user;
  return view.machine;
}

void Refresh(View* view) {
  if (!view->merged || view->user || !view->machine || view->machine->deleted) return;
  view->user = UserCopy(*view->machine);
}

bool IsHiveRoot(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER; }

bool EnterClasses(HKEY key, std::string* path, View* view) {
  std::vector<std::string> parts = SplitPath(*path);
  if (parts.size() < 2 || Upper(parts[0]) != "SOFTWARE" || Upper(parts[1]) != "CLASSES")
    return false;
  std::string rest;
  for (size_t i = 2; i < parts.size(); ++i) rest += (rest.empty() ? "" : "\\") + parts[i];
  *path = rest;
  *view = View();
  if (key == HKEY_LOCAL_MACHINE)
    view->machine = Root();
  else
    view->user = UserRoot();
  return true;
}

View WalkView(const View& from, const std::string& path, Links links) {
  View to;
  to.merged = from.merged;
  // The user's copy held over a link of the machine's, itself held: names
  // below it reach the user's copy alone, as a link has no sub-keys.
  bool belowLink =
      from.merged && from.user && from.machine && from.machine->link && !SplitPath(path).empty();
  if (from.machine && !belowLink) to.machine = Walk(from.machine, path, links);
  if (from.merged && to.machine)
    to.user = UserCopy(*to.machine);
  else if (from.user)
    to.user = Walk(from.user, path, links);
  return to;
}

const Node* SubKeyAt(const View& view, size_t index) {
  if (const Node* only = OnlyCopy(view, false)) {
    if (index >= only->children.size()) return nullptr;
    return only->children.find_by_order(index)->second.get();
  }
  auto u = view.user->children.begin();
  auto m = view.machine->children.begin();
  auto uEnd = view.user->children.end();
  auto mEnd = view.machine->children.end();
  while (u != uEnd || m != mEnd) {
    const Node* next;
    if (m == mEnd || (u != uEnd && u->first < m->first)) {
      next = (u++)->second.get();
    } else if (u == uEnd || m->first < u->first) {
      next = (m++)->second.get();
    } else {
      next = u->second.get();  // in both: the user's copy, once
      ++u;
      ++m;
    }
    if (index-- == 0) return next;
  }
  return nullptr;
}

const Value* ValueAt(const View& view, size_t index) {
  if (const Node* only = OnlyCopy(view, true)) {
    if (index >= only->values.size()) return nullptr;
    return &only->values.find_by_order(index)->second;
  }
  const Node& user = *view.user;
  if (index < user.values.size()) return &user.values.find_by_order(index)->second;
  index -= user.values.size();
  for (const auto& entry : view.machine->values) {
    if (user.valueSeq.count(Upper(entry.second.name))) continue;
    if (index-- == 0) return &entry.second;
  }
  return nullptr;
}

Value* FindViewValue(const View& view, const char* name, Node** holder) {
  for (Node* copy : {view.user.get(), view.machine.get()}) {
    if (!copy) continue;
    if (Value* value = FindValue(*copy, name)) {
      if (holder) *holder = copy;
      return value;
    }
  }
  return nullptr;
}

}  // namespace standin_impl
