// The stand-in's registry calls: the exact results, too-small-buffer
// behaviour and handle effects of the real ones, on the key tree and the
// handle table.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/handle_table.h"
#include "platform/host/host_windows.h"
#include "platform/host/key_faults.h"
#include "platform/host/key_tree.h"
#include "platform/host/merged_view.h"
#include "platform/host/test_controls.h"

using namespace standin_impl;

namespace {

// The longest names the registry holds: Windows takes 255 characters for a
// key name (Wine 256) and 16,383 for a value name.
const size_t kMaxKeyNameLength = 255;
const size_t kMaxValueNameLength = 16383;

// The start of every call on an open key that the program makes: counts
// the call, reports an armed fault, then resolves the handle to the copies
// of its key and the one it holds.
LONG EnterKeyCall(standin::Call call, HKEY key, REGSAM needed, View* view,
                  std::shared_ptr<Node>* node) {
  if (DWORD error = Gate(call)) return static_cast<LONG>(error);
  REGSAM access;
  LONG rc = ResolveView(key, view, &access);
  if (rc != ERROR_SUCCESS) return rc;
  *node = Held(*view);
  return (access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Resolves the key a path starts from: a handle, HKEY_CLASSES_ROOT, or a
// hive root whose "Software\Classes" then comes off the front of `*path`.
LONG ResolveBase(HKEY key, std::string* path, View* view, REGSAM* access) {
  if (!IsHiveRoot(key)) return ResolveView(key, view, access);
  *access = KEY_ALL_ACCESS;
  return EnterClasses(key, path, view) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
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

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  if (DWORD error = Gate(standin::Call::RegOpenKeyExA)) {
    if (result) *result = nullptr;
    return static_cast<LONG>(error);
  }
  if (!key) return ERROR_INVALID_HANDLE;  // the result is left untouched
  if (!result) return ERROR_INVALID_PARAMETER;
  std::string path = subKey ? subKey : "";
  View base;
  REGSAM baseAccess;
  if (!IsHiveRoot(key)) {
    LONG rc = ResolveView(key, &base, &baseAccess);
    if (rc != ERROR_SUCCESS) {
      *result = nullptr;
      return rc;
    }
  }
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
  if (IsHiveRoot(key) && ResolveBase(key, &path, &base, &baseAccess) != ERROR_SUCCESS) {
    *result = nullptr;
    return ERROR_FILE_NOT_FOUND;
  }
  View view = WalkView(base, path,
                       (options & REG_OPTION_OPEN_LINK) ? Links::FollowButTheLast : Links::Follow);
  std::shared_ptr<Node> node = Held(view);
  if (!node) {
    *result = nullptr;
    return ERROR_FILE_NOT_FOUND;
  }
  if (Refuses(*node, access)) {
    *result = nullptr;
    return ERROR_ACCESS_DENIED;
  }
  if (DWORD error = KeyFault(standin::Call::RegOpenKeyExA, *node, nullptr, access)) {
    *result = nullptr;
    return static_cast<LONG>(error);
  }
  *result = NewHandle(view, access);
  AfterOpen(*node);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM access, LPVOID,
                     PHKEY result, LPDWORD disposition) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!result || !subKey) return ERROR_INVALID_PARAMETER;
  std::string path = subKey;
  View base;
  REGSAM baseAccess;
  LONG rc = ResolveBase(key, &path, &base, &baseAccess);
  if (rc != ERROR_SUCCESS) return rc;
  if (subKey[0] == '\\') return ERROR_BAD_PATHNAME;
  // Existing levels are followed where they are links, the key held too (a
  // link has no sub-keys of its own); a link that leads nowhere cannot be
  // created through.
  // Through HKEY_CLASSES_ROOT, new keys go to the machine's copy where there
  // is one.
  std::shared_ptr<Node> node = base.machine ? base.machine : base.user;
  bool inMachine = node == base.machine;
  if (node->link && !SplitPath(path).empty()) node = LinkTarget(*node, 1);
  if (!node) return ERROR_FILE_NOT_FOUND;
  bool existed = true;
  std::vector<std::string> parts = SplitPath(path);
  for (const std::string& part : parts)
    if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
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
  if (existed && Refuses(*node, access)) return ERROR_ACCESS_DENIED;
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  View view;
  view.merged = base.merged;
  (inMachine ? view.machine : view.user) = node;
  Refresh(&view);
  *result = NewHandle(view, access);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (DWORD error = Gate(standin::Call::RegCloseKey)) return static_cast<LONG>(error);
  if (!key) return ERROR_INVALID_HANDLE;
  if (IsPredefined(key)) return ERROR_SUCCESS;
  return CloseHandleSlot(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR keyClass,
                   LPDWORD classLength, PFILETIME lastWriteTime) {
  View view;
  std::shared_ptr<Node> node;
  if (LONG rc =
          EnterKeyCall(standin::Call::RegEnumKeyExA, key, KEY_ENUMERATE_SUB_KEYS, &view, &node))
    return rc;
  if (DWORD error = KeyFault(standin::Call::RegEnumKeyExA, *node, nullptr))
    return static_cast<LONG>(error);
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  const Node* child = SubKeyAt(view, index);
  if (!child) return ERROR_NO_MORE_ITEMS;
  const std::string& found = child->name;
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

// The counts and longest lengths of the key's sub-keys and values; the
// class and the security descriptor are not modelled (empty, 0). Wine and
// Windows ask for query rights.
LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classLength, LPDWORD, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                      LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                      LPDWORD securityDescriptorLength, PFILETIME lastWriteTime) {
  View view;
  std::shared_ptr<Node> node;
  if (LONG rc = EnterKeyCall(standin::Call::RegQueryInfoKeyA, key, KEY_QUERY_VALUE, &view, &node))
    return rc;
  if (DWORD error = KeyFault(standin::Call::RegQueryInfoKeyA, *node, nullptr))
    return static_cast<LONG>(error);
  if (keyClass && classLength && *classLength > 0) keyClass[0] = 0;
  if (classLength) *classLength = 0;
  if (maxClassLength) *maxClassLength = 0;
  if (securityDescriptorLength) *securityDescriptorLength = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{0x12345678u, 0x01d00000u};
  DWORD keyCount = 0, longestKey = 0, valueCount = 0, longestName = 0, longestData = 0;
  for (const Node* child; (child = SubKeyAt(view, keyCount)) != nullptr; ++keyCount)
    longestKey = std::max(longestKey, static_cast<DWORD>(child->name.size()));
  for (const Value* v; (v = ValueAt(view, valueCount)) != nullptr; ++valueCount) {
    longestName = std::max(longestName, static_cast<DWORD>(v->name.size()));
    longestData = std::max(longestData, static_cast<DWORD>(v->data.size()));
  }
  if (subKeys) *subKeys = keyCount;
  if (maxSubKeyLength) *maxSubKeyLength = longestKey;
  if (values) *values = valueCount;
  if (maxValueNameLength) *maxValueNameLength = longestName;
  if (maxValueLength) *maxValueLength = longestData;
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize) {
  View view;
  std::shared_ptr<Node> node;
  if (LONG rc = EnterKeyCall(standin::Call::RegEnumValueA, key, KEY_QUERY_VALUE, &view, &node))
    return rc;
  if (DWORD error = KeyFault(standin::Call::RegEnumValueA, *node, nullptr))
    return static_cast<LONG>(error);
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  const Value* found = ValueAt(view, index);
  if (!found) return ERROR_NO_MORE_ITEMS;
  const Value& v = *found;
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
  View view;
  std::shared_ptr<Node> node;
  if (LONG rc = EnterKeyCall(standin::Call::RegQueryValueExA, key, KEY_QUERY_VALUE, &view, &node))
    return rc;
  if (DWORD error = KeyFault(standin::Call::RegQueryValueExA, *node, valueName))
    return static_cast<LONG>(error);
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  const Value* v = FindViewValue(view, valueName);
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
  if (valueName && std::strlen(valueName) > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
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
  View view;
  std::shared_ptr<Node> node;
  if (LONG rc = EnterKeyCall(standin::Call::RegDeleteValueA, key, KEY_SET_VALUE, &view, &node))
    return rc;
  if (DWORD error = KeyFault(standin::Call::RegDeleteValueA, *node, valueName))
    return static_cast<LONG>(error);
  // The copy whose value the view reads: the user's, then the machine's.
  Node* holder = nullptr;
  if (!FindViewValue(view, valueName, &holder)) return ERROR_FILE_NOT_FOUND;
  auto seq = holder->valueSeq.find(Upper(valueName ? valueName : ""));
  if (holder->values.find(seq->second)->second.protectedFromDelete) return ERROR_ACCESS_DENIED;
  holder->values.erase(seq->second);
  holder->valueSeq.erase(seq);
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (DWORD error = Gate(standin::Call::RegDeleteKeyA)) return static_cast<LONG>(error);
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::string path = subKey;
  View base;
  REGSAM access;
  LONG rc = ResolveBase(key, &path, &base, &access);
  if (rc != ERROR_SUCCESS) return rc;
  if (subKey[0] == '\\') return ERROR_BAD_PATHNAME;
  // The copy the view holds: through HKEY_CLASSES_ROOT the user's goes
  // first, and the machine's then shows through. The name is opened
  // relative to the handle without REG_OPTION_OPEN_LINK, the empty one too:
  // a handle that holds a link reaches its target.
  std::shared_ptr<Node> node = Held(WalkView(base, path, Links::Follow));
  if (node && node->link && SplitPath(path).empty()) node = LinkTarget(*node, 1);
  if (!node) return ERROR_FILE_NOT_FOUND;
  if (DWORD error = KeyFault(standin::Call::RegDeleteKeyA, *node)) return static_cast<LONG>(error);
  if (Refuses(*node, DELETE) || node == Root() || node == UserRoot()) return ERROR_ACCESS_DENIED;
  if (node->children.size() > 0) return ERROR_ACCESS_DENIED;
  Unlink(*node);
  return ERROR_SUCCESS;
}

NTSTATUS WINAPI NtDeleteKey(HANDLE key) {
  if (DWORD error = Gate(standin::Call::NtDeleteKey)) return static_cast<NTSTATUS>(error);
  HKEY held = static_cast<HKEY>(key);
  if (!held || IsPredefined(held)) return STATUS_INVALID_HANDLE;
  std::shared_ptr<Node> node;
  switch (ResolveWithAccess(held, DELETE, &node)) {
    case ERROR_SUCCESS:
      break;
    case ERROR_KEY_DELETED:
      return STATUS_KEY_DELETED;
    case ERROR_ACCESS_DENIED:
      return STATUS_ACCESS_DENIED;
    default:
      return STATUS_INVALID_HANDLE;
  }
  // Exactly the key held, a link included: nothing is opened anew, and the
  // rights are those the handle was given when it was opened.
  if (DWORD error = KeyFault(standin::Call::NtDeleteKey, *node))
    return static_cast<NTSTATUS>(error);
  if (node->children.size() > 0) return STATUS_CANNOT_DELETE;
  Unlink(*node);
  return STATUS_SUCCESS;
}
