// The stand-in's handle table.

#include "platform/host/handle_table.h"

#include <set>
#include <vector>

#include "platform/host/file_table.h"
#include "platform/host/standin_control.h"

namespace standin_impl {

namespace {

struct OpenKey {
  View view;
  REGSAM access = 0;
  bool open = false;
};

struct Table {
  std::vector<OpenKey> handles;
  std::set<size_t> freeSlots;
  size_t openCount = 0;
  size_t invalidCloses = 0;
};

Table& T() {
  static Table table;
  return table;
}

const uintptr_t kPredefinedBase = 0x80000000u;

HKEY HandleForSlot(size_t slot) {
  return reinterpret_cast<HKEY>(static_cast<uintptr_t>((slot + 1) * 4));
}

OpenKey* SlotForHandle(HKEY key) {
  uintptr_t v = reinterpret_cast<uintptr_t>(key);
  if (v == 0 || v % 4 != 0) return nullptr;
  size_t slot = v / 4 - 1;
  Table& t = T();
  if (slot >= t.handles.size() || !t.handles[slot].open) return nullptr;
  return &t.handles[slot];
}

}  // namespace

bool IsPredefined(HKEY key) { return reinterpret_cast<uintptr_t>(key) >= kPredefinedBase; }

HKEY NewHandle(const View& view, REGSAM access) {
  Table& t = T();
  size_t slot;
  if (!t.freeSlots.empty()) {
    slot = *t.freeSlots.begin();
    t.freeSlots.erase(t.freeSlots.begin());
  } else {
    slot = t.handles.size();
    t.handles.emplace_back();
  }
  t.handles[slot].view = view;
  t.handles[slot].access = access;
  t.handles[slot].open = true;
  t.openCount++;
  return HandleForSlot(slot);
}

bool CloseHandleSlot(HKEY key) {
  OpenKey* open = SlotForHandle(key);
  Table& t = T();
  if (!open) {
    t.invalidCloses++;
    return false;
  }
  open->open = false;
  open->view = View();
  t.openCount--;
  t.freeSlots.insert(reinterpret_cast<uintptr_t>(key) / 4 - 1);
  return true;
}

LONG ResolveView(HKEY key, View* view, REGSAM* access) {
  if (key == HKEY_CLASSES_ROOT) {
    *view = ClassesRootView();
    *access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  // The hive roots are reached only by a path to their classes.
  if (IsPredefined(key)) return ERROR_FILE_NOT_FOUND;
  OpenKey* open = SlotForHandle(key);
  if (!open) return ERROR_INVALID_HANDLE;
  Refresh(&open->view);
  if (Held(open->view)->deleted) return ERROR_KEY_DELETED;
  *view = open->view;
  *access = open->access;
  return ERROR_SUCCESS;
}

LONG Resolve(HKEY key, std::shared_ptr<Node>* node, REGSAM* access) {
  View view;
  LONG rc = ResolveView(key, &view, access);
  if (rc == ERROR_SUCCESS) *node = Held(view);
  return rc;
}

LONG ResolveWithAccess(HKEY key, REGSAM needed, std::shared_ptr<Node>* node) {
  REGSAM access;
  LONG rc = Resolve(key, node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  return (access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

void ResetHandles() { T() = Table(); }

}  // namespace standin_impl

namespace standin {

size_t OpenHandleCount() { return standin_impl::T().openCount + standin_impl::OpenFileCount(); }
size_t InvalidCloseCount() {
  return standin_impl::T().invalidCloses + standin_impl::InvalidFileCloseCount();
}

}  // namespace standin
