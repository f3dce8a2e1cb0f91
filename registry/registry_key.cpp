#include "registry/registry_key.h"

#include <cstring>

Status StatusFromError(LONG code) {
  if (code == 0) return 0;
  return static_cast<Status>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}

bool CopyString(char* destination, DWORD size, const char* source) {
  if (size == 0) return false;
  if (std::strlen(source) >= size) {
    destination[0] = 0;
    return false;
  }
  if (destination != source) lstrcpyA(destination, source);
  return true;
}

namespace {

// A link keeps the path it leads to in this value, of type REG_LINK.
const char kLinkValueName[] = "SymbolicLinkValue";

}  // namespace

bool IsOrdinaryKey(HKEY key) {
  DWORD type = REG_NONE;
  LONG rc = RegQueryValueExA(key, kLinkValueName, nullptr, &type, nullptr, nullptr);
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  return rc == ERROR_SUCCESS && type != REG_LINK;
}

RegistryKey::RegistryKey() : handle(0), parent(0) { path[0] = 0; }

RegistryKey::RegistryKey(HKEY parentKey, const char* subKey) : handle(0), parent(parentKey) {
  path[0] = 0;
  // Never a null path: without one, this opens the empty relative path (a
  // new handle on the parent's key), never an alias. Open refuses a path
  // too long to hold: opening what is left of it could reach another key.
  Open(parentKey, subKey ? subKey : "", KEY_ALL_ACCESS);
}

RegistryKey::~RegistryKey() { Close(); }

Status RegistryKey::Open(HKEY parentKey, const char* subKey, REGSAM access, DWORD options) {
  if (handle) Close();
  parent = parentKey;
  if (!subKey) {
    path[0] = 0;
    handle = parent;
    return 0;
  }
  if (!CopyString(path, sizeof(path), subKey)) return StatusFromError(ERROR_MORE_DATA);
  HKEY opened = 0;
  LONG rc = RegOpenKeyExA(parent, path, options, access, &opened);
  if (rc != ERROR_SUCCESS) {
    handle = 0;
    return StatusFromError(rc);
  }
  handle = opened;
  return 0;
}

Status RegistryKey::OpenOrdinary(HKEY parentKey, const char* subKey, REGSAM access) {
  Status status = Open(parentKey, subKey, access, REG_OPTION_OPEN_LINK);
  if (status != 0 || IsOrdinaryKey(handle)) return status;
  Close();
  return StatusFromError(ERROR_CANT_RESOLVE_FILENAME);
}

void RegistryKey::Close() {
  if (handle && handle != parent) RegCloseKey(handle);
  handle = 0;
}

char* RegistryKey::QueryStringValue(const char* valueName, const char* fallback, char* buffer,
                                    DWORD bufferSize) {
  if (bufferSize == 0) return buffer;
  if (handle) {
    DWORD type = REG_NONE;
    DWORD size = bufferSize;
    LONG rc =
        RegQueryValueExA(handle, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (rc == ERROR_SUCCESS && type == REG_SZ && size <= bufferSize) {
      // The stored bytes need not end in a NUL, and an empty value leaves
      // the buffer untouched: terminate within the buffer, or, when a
      // value without terminator fills it exactly, treat it as too long.
      if (size < bufferSize) {
        buffer[size] = 0;
        return buffer;
      }
      if (buffer[size - 1] == 0) return buffer;
    }
  }
  CopyString(buffer, bufferSize, fallback);
  return buffer;
}

Status RegistryKey::DeleteValue(const char* valueName) {
  return StatusFromError(RegDeleteValueA(handle, valueName));
}

SubKeyEnumerator::SubKeyEnumerator(HKEY key) : handle(key), index(0), lastWriteTime() {}

LONG SubKeyEnumerator::Next(char* name, DWORD* nameLength) {
  LONG rc =
      RegEnumKeyExA(handle, index, name, nameLength, nullptr, nullptr, nullptr, &lastWriteTime);
  ++index;
  return rc;
}

ValueEnumerator::ValueEnumerator(HKEY key) : handle(key), index(0) {}

LONG ValueEnumerator::Next(char* name, DWORD* nameLength) {
  LONG rc = RegEnumValueA(handle, index, name, nameLength, nullptr, nullptr, nullptr, nullptr);
  ++index;
  return rc;
}
