// In-memory stand-in for the Windows registry and file calls, matching the
// documented and observed behaviour of the real ones: case-insensitive names
// that keep their creation case, sub-keys enumerated sorted by upper-cased
// name, values in creation order, renumbering after a deletion, the exact
// too-small-buffer behaviour of each call, handle values that are reused, and
// ERROR_KEY_DELETED on handles whose key went away.

#include <algorithm>
#include <cstring>
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "platform/host/host_windows.h"
#include "platform/host/standin_control.h"

namespace {

// An ordered container whose n-th element is found in O(log n).
template <typename K, typename V>
using IndexedMap = __gnu_pbds::tree<K, V, std::less<K>, __gnu_pbds::rb_tree_tag,
                                    __gnu_pbds::tree_order_statistics_node_update>;

// An IndexedMap that remembers the element it last gave by position, so
// that a walk forward one index at a time (the way callers enumerate) and a
// search for the key just enumerated cost O(1) instead of O(log n) each.
// Any insertion or erasure forgets the remembered element.
template <typename K, typename V>
class CursorMap : public IndexedMap<K, V> {
  using Base = IndexedMap<K, V>;
  using Iterator = typename Base::const_iterator;

 public:
  CursorMap() = default;
  CursorMap(const CursorMap& other) : Base(other) {}
  CursorMap& operator=(const CursorMap& other) {
    Forget();
    Base::operator=(other);
    return *this;
  }

  template <typename... Args>
  auto insert(Args&&... args) {
    Forget();
    return Base::insert(std::forward<Args>(args)...);
  }
  template <typename... Args>
  auto erase(Args&&... args) {
    Forget();
    return Base::erase(std::forward<Args>(args)...);
  }
  void clear() {
    Forget();
    Base::clear();
  }
  void swap(CursorMap& other) {
    Forget();
    other.Forget();
    Base::swap(other);
  }

  Iterator find_by_order(size_t n) const {
    if (n == 0) return Remember(0, Base::begin());
    if (known && n == position) return cursor;
    if (known && n == position + 1 && cursor != Base::end()) return Remember(n, std::next(cursor));
    return Remember(n, Base::find_by_order(n));
  }
  Iterator find(const K& key) const {
    if (known && cursor != Base::end() && !(key < cursor->first) && !(cursor->first < key))
      return cursor;
    return Base::find(key);
  }

 private:
  Iterator Remember(size_t n, Iterator it) const {
    known = true;
    position = n;
    cursor = it;
    return it;
  }
  void Forget() { known = false; }

  mutable bool known = false;
  mutable size_t position = 0;
  mutable Iterator cursor;
};

std::string Upper(const std::string& s) {
  std::string u(s);
  for (char& c : u) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return u;
}

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
  bool protectedFromDelete = false;
};

struct Node {
  std::string name;
  Node* parent = nullptr;
  bool deleted = false;
  bool denyAccess = false;
  bool link = false;  // a symbolic link: its target is its SymbolicLinkValue
  CursorMap<std::string, std::shared_ptr<Node>> children;  // by upper name
  IndexedMap<uint64_t, Value> values;                      // creation order
  std::unordered_map<std::string, uint64_t> valueSeq;      // upper name
  uint64_t nextSeq = 0;
};

struct OpenKey {
  std::shared_ptr<Node> node;
  REGSAM access = 0;
  bool open = false;
};

struct Fault {
  standin::Call call;
  uint64_t remaining;
  DWORD error;
};

struct FileEntry {
  std::string path;
  DWORD deleteError = 0;
};

struct State {
  std::shared_ptr<Node> root = std::make_shared<Node>();
  std::vector<OpenKey> handles;
  std::set<size_t> freeSlots;
  size_t openCount = 0;
  size_t invalidCloses = 0;
  uint64_t calls[static_cast<size_t>(standin::Call::Count)] = {};
  std::vector<Fault> faults;
  std::function<void(standin::Call)> hook;
  bool inHook = false;
  bool longPathPresent = true;
  std::map<std::string, FileEntry> files;          // by upper path
  std::map<std::string, std::string> shortToLong;  // upper short -> long
  std::vector<std::string> deleteFileNames;        // as given to DeleteFileA
};

State& S() {
  static State state;
  return state;
}

thread_local DWORD lastError = 0;

// Counts a program-facing call, runs the hook and reports an armed fault.
DWORD Gate(standin::Call call) {
  State& s = S();
  if (s.inHook) return 0;
  s.calls[static_cast<size_t>(call)]++;
  s.calls[static_cast<size_t>(standin::Call::Any)]++;
  if (s.hook) {
    s.inHook = true;
    s.hook(call);
    s.inHook = false;
  }
  DWORD error = 0;
  for (auto it = s.faults.begin(); it != s.faults.end();) {
    if (it->call == call || it->call == standin::Call::Any) {
      if (--it->remaining == 0) {
        if (error == 0) error = it->error;
        it = s.faults.erase(it);
        continue;
      }
    }
    ++it;
  }
  return error;
}

const uintptr_t kPredefinedBase = 0x80000000u;

bool IsPredefined(HKEY key) { return reinterpret_cast<uintptr_t>(key) >= kPredefinedBase; }

HKEY HandleForSlot(size_t slot) {
  return reinterpret_cast<HKEY>(static_cast<uintptr_t>((slot + 1) * 4));
}

OpenKey* SlotForHandle(HKEY key) {
  uintptr_t v = reinterpret_cast<uintptr_t>(key);
  if (v == 0 || v % 4 != 0) return nullptr;
  size_t slot = v / 4 - 1;
  State& s = S();
  if (slot >= s.handles.size() || !s.handles[slot].open) return nullptr;
  return &s.handles[slot];
}

// Resolves a handle to its key and the rights it was opened with.
LONG Resolve(HKEY key, std::shared_ptr<Node>* node, REGSAM* access) {
  if (key == HKEY_CLASSES_ROOT) {
    *node = S().root;
    *access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  if (IsPredefined(key)) return ERROR_FILE_NOT_FOUND;  // roots not modelled
  OpenKey* open = SlotForHandle(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (open->node->deleted) return ERROR_KEY_DELETED;
  *node = open->node;
  *access = open->access;
  return ERROR_SUCCESS;
}

// Resolves a handle to its key and checks that it was opened with the
// rights `needed`.
LONG ResolveWithAccess(HKEY key, REGSAM needed, std::shared_ptr<Node>* node) {
  REGSAM access;
  LONG rc = Resolve(key, node, &access);
  if (rc != ERROR_SUCCESS) return rc;
  return (access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// The start of every call on an open key that the program makes: counts
// the call, reports an armed fault, then resolves the handle as above.
LONG EnterKeyCall(standin::Call call, HKEY key, REGSAM needed, std::shared_ptr<Node>* node) {
  if (DWORD error = Gate(call)) return static_cast<LONG>(error);
  return ResolveWithAccess(key, needed, node);
}

HKEY NewHandle(const std::shared_ptr<Node>& node, REGSAM access) {
  State& s = S();
  size_t slot;
  if (!s.freeSlots.empty()) {
    slot = *s.freeSlots.begin();
    s.freeSlots.erase(s.freeSlots.begin());
  } else {
    slot = s.handles.size();
    s.handles.emplace_back();
  }
  s.handles[slot].node = node;
  s.handles[slot].access = access;
  s.handles[slot].open = true;
  s.openCount++;
  return HandleForSlot(slot);
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('\\', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

std::shared_ptr<Node> Child(const Node& node, const std::string& name) {
  auto it = node.children.find(Upper(name));
  return it == node.children.end() ? nullptr : it->second;
}

// How a walk treats the links it meets on its way.
enum class Links {
  Follow,            // every level, the last included (options 0)
  FollowButTheLast,  // the last level is the link itself (REG_OPTION_OPEN_LINK)
  Raw,               // never: the tree as stored (the control interface)
};

// A chain of links longer than this resolves to nothing, as a loop would.
const int kMaxLinkChain = 16;

std::shared_ptr<Node> LinkTarget(Node& link, int chain);

// Walks a relative path below `from`; null when a level is missing or a
// link on the way leads nowhere.
std::shared_ptr<Node> Walk(std::shared_ptr<Node> from, const std::string& path, bool* denied,
                           Links links = Links::Follow, int chain = 0) {
  *denied = false;
  std::vector<std::string> parts = SplitPath(path);
  for (size_t i = 0; i < parts.size(); ++i) {
    from = Child(*from, parts[i]);
    if (!from) return nullptr;
    bool last = i + 1 == parts.size();
    if (from->link && (links == Links::Follow || (links == Links::FollowButTheLast && !last))) {
      from = LinkTarget(*from, chain + 1);
      if (!from) return nullptr;
    }
  }
  if (from->denyAccess) *denied = true;
  return from;
}

std::shared_ptr<Node> AddChild(const std::shared_ptr<Node>& parent, const std::string& name) {
  auto child = std::make_shared<Node>();
  child->name = name;
  child->parent = parent.get();
  parent->children.insert(std::make_pair(Upper(name), child));
  return child;
}

// Creates the missing levels of a path as stored, never following a link.
std::shared_ptr<Node> Ensure(std::shared_ptr<Node> from, const std::string& path) {
  for (const std::string& part : SplitPath(path)) {
    std::shared_ptr<Node> next = Child(*from, part);
    from = next ? next : AddChild(from, part);
  }
  return from;
}

void MarkDeleted(Node& node) {
  node.deleted = true;
  for (auto& child : node.children) MarkDeleted(*child.second);
}

void Unlink(Node& node) {
  MarkDeleted(node);
  if (node.parent) node.parent->children.erase(Upper(node.name));
  node.parent = nullptr;
}

Value* FindValue(Node& node, const char* name) {
  auto seq = node.valueSeq.find(Upper(name ? name : ""));
  if (seq == node.valueSeq.end()) return nullptr;
  auto it = node.values.find(seq->second);
  return it == node.values.end() ? nullptr : &it->second;
}

const char kLinkValueName[] = "SymbolicLinkValue";

// Resolves a link's target, an NT path held as UTF-16 in its SymbolicLinkValue.
// Only targets below the classes root are modelled; any other is dangling.
std::shared_ptr<Node> LinkTarget(Node& link, int chain) {
  if (chain > kMaxLinkChain) return nullptr;
  const Value* v = FindValue(link, kLinkValueName);
  if (!v || v->type != REG_LINK) return nullptr;
  std::string target;
  for (size_t i = 0; i + 1 < v->data.size(); i += 2) {
    if (v->data[i + 1] != 0 || v->data[i] == 0) return nullptr;  // ASCII only
    target += v->data[i];
  }
  std::string root = Upper(standin::kClassesRootNtPath);
  std::string upper = Upper(target);
  if (upper.compare(0, root.size(), root) != 0) return nullptr;
  if (upper.size() > root.size() && upper[root.size()] != '\\') return nullptr;
  bool denied;
  return Walk(S().root, target.substr(root.size()), &denied, Links::Follow, chain);
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

void StoreValue(Node& node, const std::string& name, DWORD type, const std::string& data) {
  std::string upper = Upper(name);
  auto seq = node.valueSeq.find(upper);
  if (seq != node.valueSeq.end()) {
    Value& v = node.values.find(seq->second)->second;
    v.type = type;
    v.data = data;
    return;
  }
  uint64_t n = node.nextSeq++;
  Value v;
  v.name = name;
  v.type = type;
  v.data = data;
  node.values.insert(std::make_pair(n, v));
  node.valueSeq[upper] = n;
}

// Copies data into a caller's buffer the way the registry does: too small
// means ERROR_MORE_DATA, the required size and an untouched buffer; a string
// stored without its terminator gets one when there is room for it.
LONG CopyData(const Value& v, LPBYTE data, LPDWORD dataSize) {
  if (!dataSize) return ERROR_SUCCESS;
  DWORD size = static_cast<DWORD>(v.data.size());
  if (!data) {
    *dataSize = size;
    return ERROR_SUCCESS;
  }
  if (*dataSize < size) {
    *dataSize = size;
    return ERROR_MORE_DATA;
  }
  if (size > 0) std::memcpy(data, v.data.data(), size);
  if (IsStringType(v.type) && size > 0 && *dataSize > size && v.data[size - 1] != '\0')
    data[size] = 0;
  *dataSize = size;
  return ERROR_SUCCESS;
}

std::string UpperPath(const std::string& path) { return Upper(path); }

void DumpNode(const Node& node, const std::string& path, std::string* out) {
  if (!path.empty()) {
    *out += path;
    *out += '\n';
  }
  for (const auto& entry : node.values) {
    const Value& v = entry.second;
    *out += "  \"" + v.name + "\" type " + std::to_string(v.type) + " [";
    static const char kHex[] = "0123456789abcdef";
    for (unsigned char c : v.data) {
      if (c >= 0x20 && c < 0x7f && c != '\\') {
        *out += static_cast<char>(c);
      } else {
        *out += "\\x";
        *out += kHex[c >> 4];
        *out += kHex[c & 15];
      }
    }
    *out += "]\n";
  }
  for (const auto& child : node.children) {
    DumpNode(*child.second, path.empty() ? child.second->name : path + "\\" + child.second->name,
             out);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Registry.

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  if (DWORD error = Gate(standin::Call::RegOpenKeyExA)) {
    if (result) *result = nullptr;
    return static_cast<LONG>(error);
  }
  if (!key) return ERROR_INVALID_HANDLE;  // the result is left untouched
  if (!result) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Node> base;
  REGSAM baseAccess;
  LONG rc = Resolve(key, &base, &baseAccess);
  if (rc != ERROR_SUCCESS) {
    *result = nullptr;
    return rc;
  }
  std::string path = subKey ? subKey : "";
  if (path.size() > MAX_PATH) return ERROR_MORE_DATA;  // result untouched
  if (!path.empty() && path[0] == '\\') {
    if (key != HKEY_CLASSES_ROOT || (path.size() > 1 && path[1] == '\\')) {
      *result = nullptr;
      return ERROR_BAD_PATHNAME;
    }
    path.erase(0, 1);
  }
  if (IsPredefined(key) && SplitPath(path).empty()) {
    *result = key;  // the root itself, no new handle
    return ERROR_SUCCESS;
  }
  bool denied;
  std::shared_ptr<Node> node =
      Walk(base, path, &denied,
           (options & REG_OPTION_OPEN_LINK) ? Links::FollowButTheLast : Links::Follow);
  if (!node) {
    *result = nullptr;
    return ERROR_FILE_NOT_FOUND;
  }
  if (denied) {
    *result = nullptr;
    return ERROR_ACCESS_DENIED;
  }
  *result = NewHandle(node, access);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM access, LPVOID,
                     PHKEY result, LPDWORD disposition) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!result || !subKey) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Node> base;
  REGSAM baseAccess;
  LONG rc = Resolve(key, &base, &baseAccess);
  if (rc != ERROR_SUCCESS) return rc;
  if (subKey[0] == '\\') return ERROR_BAD_PATHNAME;
  // Existing levels are followed where they are links; a link that leads
  // nowhere cannot be created through.
  std::shared_ptr<Node> node = base;
  bool existed = true;
  std::vector<std::string> parts = SplitPath(subKey);
  for (size_t i = 0; i < parts.size(); ++i) {
    bool last = i + 1 == parts.size();
    std::shared_ptr<Node> next = Child(*node, parts[i]);
    if (!next) {
      existed = false;
      next = AddChild(node, parts[i]);
      next->link = last && (options & REG_OPTION_CREATE_LINK);
    } else if (last && (options & REG_OPTION_CREATE_LINK)) {
      return ERROR_ALREADY_EXISTS;
    } else if (next->link) {
      next = LinkTarget(*next, 1);
      if (!next) return ERROR_FILE_NOT_FOUND;
    }
    node = next;
  }
  if (existed && node->denyAccess) return ERROR_ACCESS_DENIED;
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  *result = NewHandle(node, access);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (DWORD error = Gate(standin::Call::RegCloseKey)) return static_cast<LONG>(error);
  if (!key) return ERROR_INVALID_HANDLE;
  if (IsPredefined(key)) return ERROR_SUCCESS;
  OpenKey* open = SlotForHandle(key);
  State& s = S();
  if (!open) {
    s.invalidCloses++;
    return ERROR_INVALID_HANDLE;
  }
  open->open = false;
  open->node.reset();
  s.openCount--;
  s.freeSlots.insert(reinterpret_cast<uintptr_t>(key) / 4 - 1);
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR keyClass,
                   LPDWORD classLength, PFILETIME lastWriteTime) {
  std::shared_ptr<Node> node;
  if (LONG rc = EnterKeyCall(standin::Call::RegEnumKeyExA, key, KEY_ENUMERATE_SUB_KEYS, &node))
    return rc;
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& found = node->children.find_by_order(index)->second->name;
  if (*nameLength <= found.size()) return ERROR_MORE_DATA;  // nothing written
  std::memcpy(name, found.c_str(), found.size() + 1);
  *nameLength = static_cast<DWORD>(found.size());
  if (keyClass && classLength && *classLength > 0) {
    keyClass[0] = 0;
    *classLength = 0;
  }
  if (lastWriteTime) *lastWriteTime = FILETIME{0x12345678u, 0x01d00000u};
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize) {
  std::shared_ptr<Node> node;
  if (LONG rc = EnterKeyCall(standin::Call::RegEnumValueA, key, KEY_QUERY_VALUE, &node)) return rc;
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& v = node->values.find_by_order(index)->second;
  if (*nameLength <= v.name.size()) {
    // Unlike the sub-key call, the truncated name is written.
    if (*nameLength > 0) {
      std::memcpy(name, v.name.data(), *nameLength - 1);
      name[*nameLength - 1] = 0;
    }
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, v.name.c_str(), v.name.size() + 1);
  *nameLength = static_cast<DWORD>(v.name.size());
  if (type) *type = v.type;
  return CopyData(v, data, dataSize);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
  std::shared_ptr<Node> node;
  if (LONG rc = EnterKeyCall(standin::Call::RegQueryValueExA, key, KEY_QUERY_VALUE, &node))
    return rc;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  const Value* v = FindValue(*node, valueName);
  if (!v) {
    if (type) *type = REG_NONE;
    if (!data && dataSize) *dataSize = 0;
    return ERROR_FILE_NOT_FOUND;
  }
  if (type) *type = v->type;
  return CopyData(*v, data, dataSize);
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataSize) {
  std::shared_ptr<Node> node;
  if (LONG rc = ResolveWithAccess(key, KEY_SET_VALUE, &node)) return rc;
  if (!data && dataSize) return ERROR_INVALID_PARAMETER;
  // A link's target is a REG_LINK value and nothing else.
  if (node->link && Upper(valueName ? valueName : "") == Upper(kLinkValueName) && type != REG_LINK)
    return ERROR_ACCESS_DENIED;
  // Like the real call, a string whose next byte is a NUL is stored with it.
  if (IsStringType(type) && dataSize > 0 && data[dataSize - 1] != 0 && data[dataSize] == 0)
    dataSize++;
  StoreValue(*node, valueName ? valueName : "", type,
             std::string(reinterpret_cast<const char*>(data), dataSize));
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
  std::shared_ptr<Node> node;
  if (LONG rc = EnterKeyCall(standin::Call::RegDeleteValueA, key, KEY_SET_VALUE, &node)) return rc;
  std::string upper = Upper(valueName ? valueName : "");
  auto seq = node->valueSeq.find(upper);
  if (seq == node->valueSeq.end()) return ERROR_FILE_NOT_FOUND;
  if (node->values.find(seq->second)->second.protectedFromDelete) return ERROR_ACCESS_DENIED;
  node->values.erase(seq->second);
  node->valueSeq.erase(seq);
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (DWORD error = Gate(standin::Call::RegDeleteKeyA)) return static_cast<LONG>(error);
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Node> base;
  REGSAM access;
  LONG rc = Resolve(key, &base, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (subKey[0] == '\\') return ERROR_BAD_PATHNAME;
  bool denied;
  std::shared_ptr<Node> node = Walk(base, subKey, &denied);
  if (!node) return ERROR_FILE_NOT_FOUND;
  if (denied || node == S().root) return ERROR_ACCESS_DENIED;
  if (node->children.size() > 0) return ERROR_ACCESS_DENIED;
  Unlink(*node);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Kernel.

namespace {
HMODULE const kKernel32 = reinterpret_cast<HMODULE>(uintptr_t{0x7b000000});
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (DWORD error = Gate(standin::Call::GetModuleHandleA)) {
    lastError = error;
    return nullptr;
  }
  std::string name = Upper(moduleName ? moduleName : "");
  if (name == "KERNEL32" || name == "KERNEL32.DLL") return kKernel32;
  lastError = ERROR_MOD_NOT_FOUND;
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  if (DWORD error = Gate(standin::Call::GetProcAddress)) {
    lastError = error;
    return nullptr;
  }
  if (module == kKernel32 && procName && std::strcmp(procName, "GetLongPathNameA") == 0 &&
      S().longPathPresent)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&GetLongPathNameA));
  lastError = ERROR_PROC_NOT_FOUND;
  return nullptr;
}

LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
  std::memmove(destination, source, std::strlen(source) + 1);
  return destination;
}

BOOL DeleteFileA(LPCSTR fileName) {
  if (DWORD error = Gate(standin::Call::DeleteFileA)) {
    lastError = error;
    return FALSE;
  }
  if (fileName) S().deleteFileNames.push_back(fileName);
  if (!fileName || !*fileName) {
    lastError = ERROR_PATH_NOT_FOUND;
    return FALSE;
  }
  State& s = S();
  std::string upper = UpperPath(fileName);
  auto alias = s.shortToLong.find(upper);
  if (alias != s.shortToLong.end()) upper = UpperPath(alias->second);
  auto it = s.files.find(upper);
  if (it == s.files.end()) {
    lastError = ERROR_FILE_NOT_FOUND;
    return FALSE;
  }
  if (it->second.deleteError) {
    lastError = it->second.deleteError;
    return FALSE;
  }
  s.files.erase(it);
  return TRUE;
}

DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength) {
  if (DWORD error = Gate(standin::Call::GetLongPathNameA)) {
    lastError = error;
    return 0;
  }
  if (!shortPath) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  if (!*shortPath) {
    lastError = ERROR_PATH_NOT_FOUND;
    return 0;
  }
  if (std::strpbrk(shortPath, "*?")) {
    lastError = ERROR_INVALID_NAME;
    return 0;
  }
  State& s = S();
  std::string upper = UpperPath(shortPath);
  std::string result;
  auto alias = s.shortToLong.find(upper);
  if (alias != s.shortToLong.end() && s.files.count(UpperPath(alias->second))) {
    result = alias->second;
  } else if (s.files.count(upper)) {
    result = shortPath;  // already long: returned as given
  } else {
    lastError = ERROR_FILE_NOT_FOUND;
    return 0;
  }
  if (!longPath || bufferLength <= result.size())
    return static_cast<DWORD>(result.size() + 1);  // buffer untouched
  std::memmove(longPath, result.c_str(), result.size() + 1);
  return static_cast<DWORD>(result.size());
}

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD bufferLength) {
  State& s = S();
  if (!longPath || !s.files.count(UpperPath(longPath))) {
    lastError = ERROR_FILE_NOT_FOUND;
    return 0;
  }
  std::string result = longPath;
  for (const auto& alias : s.shortToLong) {
    if (UpperPath(alias.second) == UpperPath(longPath)) {
      result = alias.first;
      break;
    }
  }
  if (!shortPath || bufferLength <= result.size()) return static_cast<DWORD>(result.size() + 1);
  std::memmove(shortPath, result.c_str(), result.size() + 1);
  return static_cast<DWORD>(result.size());
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

// ---------------------------------------------------------------------------
// Control interface.

namespace standin {

const char kClassesRootNtPath[] = "\\Registry\\Machine\\Software\\Classes";

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
                                       "GetLongPathNameA"};
  size_t i = static_cast<size_t>(call);
  return i < sizeof(kNames) / sizeof(kNames[0]) ? kNames[i] : "?";
}

void Reset() {
  State& s = S();
  MarkDeleted(*s.root);
  s = State();
}

void CreateKey(const std::string& path) { Ensure(S().root, path); }

void SetValue(const std::string& keyPath, const std::string& name, DWORD type,
              const std::string& bytes) {
  StoreValue(*Ensure(S().root, keyPath), name, type, bytes);
}

void SetString(const std::string& keyPath, const std::string& name, const std::string& text,
               bool withTerminator) {
  SetValue(keyPath, name, REG_SZ, withTerminator ? text + std::string(1, '\0') : text);
}

void RemoveKey(const std::string& path) {
  bool denied;
  std::shared_ptr<Node> node = Walk(S().root, path, &denied, Links::Raw);
  if (node && node != S().root) Unlink(*node);
}

bool KeyExists(const std::string& path) {
  bool denied;
  return Walk(S().root, path, &denied, Links::Raw) != nullptr;
}

void CreateLink(const std::string& path, const std::string& target) {
  std::shared_ptr<Node> node = Ensure(S().root, path);
  node->link = true;
  std::string utf16;
  for (char c : target) {
    utf16 += c;
    utf16 += '\0';
  }
  StoreValue(*node, kLinkValueName, REG_LINK, utf16);
}

bool ResolvePath(const std::string& path, bool followLast, std::string* resolved) {
  bool denied;
  std::shared_ptr<Node> node =
      Walk(S().root, path, &denied, followLast ? Links::Follow : Links::FollowButTheLast);
  resolved->clear();
  if (!node) return false;
  for (const Node* n = node.get(); n->parent; n = n->parent)
    *resolved = resolved->empty() ? n->name : n->name + "\\" + *resolved;
  return true;
}

void DenyAccess(const std::string& keyPath) { Ensure(S().root, keyPath)->denyAccess = true; }

void ProtectValue(const std::string& keyPath, const std::string& name) {
  std::shared_ptr<Node> node = Ensure(S().root, keyPath);
  if (!FindValue(*node, name.c_str())) StoreValue(*node, name, REG_SZ, "");
  FindValue(*node, name.c_str())->protectedFromDelete = true;
}

std::string Dump() {
  std::string out;
  DumpNode(*S().root, "", &out);
  return out;
}

size_t OpenHandleCount() { return S().openCount; }
size_t InvalidCloseCount() { return S().invalidCloses; }
uint64_t CallCount(Call call) { return S().calls[static_cast<size_t>(call)]; }

void FailCall(Call call, uint64_t n, DWORD error) {
  if (n > 0) S().faults.push_back(Fault{call, n, error});
}

void ClearFaults() { S().faults.clear(); }

void SetCallHook(std::function<void(Call)> hook) { S().hook = std::move(hook); }

void SetLongPathFunctionPresent(bool present) { S().longPathPresent = present; }

void AddFile(const std::string& path) {
  FileEntry& f = S().files[UpperPath(path)];
  if (f.path.empty()) f.path = path;
}

void AddShortName(const std::string& shortPath, const std::string& longPath) {
  AddFile(longPath);
  S().shortToLong[UpperPath(shortPath)] = longPath;
}

void LockFile(const std::string& path, DWORD error) {
  AddFile(path);
  S().files[UpperPath(path)].deleteError = error;
}

bool FileExists(const std::string& path) { return S().files.count(UpperPath(path)) != 0; }

const std::vector<std::string>& DeleteFileNames() { return S().deleteFileNames; }

std::vector<std::string> Files() {
  std::vector<std::string> out;
  for (const auto& f : S().files) out.push_back(f.second.path);
  return out;
}

}  // namespace standin
