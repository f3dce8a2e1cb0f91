#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "helpers/registry_dump.h"
#include "helpers/registry_writes.h"
#include "helpers/text.h"
#include "platform/system_function.h"

namespace test_support {

std::string UniqueName(const std::string& prefix) {
  static unsigned counter = 0;
  auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  char tail[40];
  std::snprintf(tail, sizeof tail, "%08llx%04x",
                static_cast<unsigned long long>(now) & 0xffffffffull, ++counter & 0xffffu);
  return prefix + tail;
}

void CreateKey(HKEY root, const std::string& path) {
  ASSERT_EQ(ERROR_SUCCESS, helpers::CreateKey(root, path)) << path;
}

void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::string& bytes) {
  ASSERT_EQ(ERROR_SUCCESS, helpers::WriteValue(root, path, name, type, bytes))
      << path << " " << name;
}

void SetString(HKEY root, const std::string& path, const std::string& name,
               const std::string& text) {
  SetValue(root, path, name, REG_SZ, text + std::string(1, '\0'));
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = 0;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool ValueExists(HKEY root, const std::string& path, const std::string& name) {
  HKEY key = 0;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

namespace {

// Whether `name` below `parent` exists, a link counting as itself.
bool KeyOrLinkExists(HKEY parent, const char* name) {
  HKEY key = 0;
  if (RegOpenKeyExA(parent, name, REG_OPTION_OPEN_LINK, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// Each level is opened below its parent's handle, so that trees whose whole
// paths are longer than the platform takes in one piece go as well.
void DeleteTreeBelow(HKEY parent, const char* name) {
  // Links are deleted as links, never followed.
  HKEY key = 0;
  if (RegOpenKeyExA(parent, name, REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  char child[1024];
  DWORD index = 0;
  for (;;) {
    DWORD length = sizeof child;
    if (RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    DeleteTreeBelow(key, child);
    if (KeyOrLinkExists(key, child)) ++index;  // cannot go: step over it
  }
  DeleteHeldKey(key);
  RegCloseKey(key);
}

}  // namespace

LONG DeleteHeldKey(HKEY key) {
  HMODULE ntdll = GetModuleHandleA("ntdll");
  auto deleteKey = FindSystemFunction<NtDeleteKeyFunction>(ntdll, "NtDeleteKey");
  auto toError = FindSystemFunction<RtlNtStatusToDosErrorFunction>(ntdll, "RtlNtStatusToDosError");
  if (!deleteKey || !toError) return ERROR_PROC_NOT_FOUND;
  return static_cast<LONG>(toError(deleteKey(key)));
}

void DeleteTree(HKEY root, const std::string& path) { DeleteTreeBelow(root, path.c_str()); }

void CreateLink(HKEY root, const std::string& path, const std::string& target) {
  ASSERT_EQ(ERROR_SUCCESS,
            helpers::MakeLink(root, path,
                              std::string(helpers::kMachineClassesKernelPath) + "\\" + target))
      << path;
}

namespace {}  // namespace

std::vector<std::string> DumpTree(HKEY root, const std::string& path) {
  std::vector<std::string> out;
  HKEY key = 0;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  helpers::DumpKey(key, "", helpers::DumpOptions(), &out);
  RegCloseKey(key);
  return out;
}

std::vector<std::string> WithoutKey(const std::vector<std::string>& lines,
                                    const std::string& keyPath) {
  std::string key = helpers::Upper(keyPath);
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    std::string upper = helpers::Upper(line);
    bool below = upper.compare(0, key.size(), key) == 0 &&
                 (upper.size() == key.size() || upper[key.size()] == '\\' ||
                  upper[key.size()] == '|' || upper[key.size()] == ' ');
    if (!below) out.push_back(line);
  }
  return out;
}

ScratchKey::ScratchKey(const std::string& prefix) : path_(UniqueName(prefix)) {
  RegCreateKeyExA(HKEY_CLASSES_ROOT, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                  &handle_, nullptr);
}

ScratchKey::~ScratchKey() {
  if (handle_) RegCloseKey(handle_);
  DeleteTree(HKEY_CLASSES_ROOT, path_);
}

std::string ScratchKey::Below(const std::string& relative) const {
  return relative.empty() ? path_ : path_ + "\\" + relative;
}

}  // namespace test_support
