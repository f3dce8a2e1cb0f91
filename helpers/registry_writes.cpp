#include "helpers/registry_writes.h"

namespace helpers {

const char kMachineClassesKernelPath[] = "\\Registry\\Machine\\Software\\Classes";

LONG CreateKey(HKEY parent, const std::string& path, HKEY* key) {
  HKEY created = 0;
  LONG rc = RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                            nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  if (key) {
    *key = created;
  } else {
    RegCloseKey(created);
  }
  return rc;
}

LONG WriteValue(HKEY key, const std::string& name, DWORD type, const std::string& bytes) {
  // The platform stores a string with the NUL that follows its bytes; a
  // non-NUL byte after them keeps the bytes exactly as given.
  std::string buffer = bytes + "X";
  return RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(buffer.data()),
                        static_cast<DWORD>(bytes.size()));
}

LONG WriteValue(HKEY parent, const std::string& path, const std::string& name, DWORD type,
                const std::string& bytes) {
  HKEY key = 0;
  LONG rc = CreateKey(parent, path, &key);
  if (rc != ERROR_SUCCESS) return rc;
  rc = WriteValue(key, name, type, bytes);
  RegCloseKey(key);
  return rc;
}

LONG WriteString(HKEY key, const std::string& name, const std::string& text) {
  return WriteValue(key, name, REG_SZ, text + std::string(1, '\0'));
}

LONG MakeLink(HKEY parent, const std::string& path, const std::string& kernelTarget) {
  HKEY key = 0;
  LONG rc = RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  // The target, UTF-16 without a terminator.
  std::string utf16;
  for (char c : kernelTarget) {
    utf16 += c;
    utf16 += '\0';
  }
  rc =
      RegSetValueExA(key, "SymbolicLinkValue", 0, REG_LINK,
                     reinterpret_cast<const BYTE*>(utf16.data()), static_cast<DWORD>(utf16.size()));
  RegCloseKey(key);
  return rc;
}

}  // namespace helpers
