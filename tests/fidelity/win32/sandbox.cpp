#include "fidelity/sandbox.h"

#include <string>

#include "platform/platform.h"
#include "registry/registry_key.h"

namespace fidelity {

namespace {

// Below the real classes root, so that links can name it in the kernel's form.
const char kSandbox[] = "rf-fidelity";
const char kClassesRootNtPath[] = "\\Registry\\Machine\\Software\\Classes";
const char kFileRoot[] = "C:\\rf-fidelity";

HKEY sandbox = 0;
std::string lastDirectory;

// Removes a directory with everything in it.
void RemoveDirectoryTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryTree(child);
      else
        DeleteFileA(child.c_str());
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

void Clear() {
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  if (sandbox) RegCloseKey(sandbox);
  sandbox = 0;
  // Link-safe and relative, key by key: the program's own tree deletion.
  RegistryKey root(HKEY_CLASSES_ROOT, "");
  root.DeleteKeyTree(kSandbox);
  if (!lastDirectory.empty()) RemoveDirectoryTree(lastDirectory);
  lastDirectory.clear();
}

}  // namespace

Place BeginSeed(uint32_t seed) {
  Clear();
  RegCreateKeyExA(HKEY_CLASSES_ROOT, kSandbox, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sandbox,
                  nullptr);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, sandbox);
  Place place{std::string(kClassesRootNtPath) + "\\" + kSandbox, kFileRoot};
  CreateDirectoryA(kFileRoot, nullptr);
  place.fileRoot += "\\" + std::to_string(seed);
  CreateDirectoryA(place.fileRoot.c_str(), nullptr);
  lastDirectory = place.fileRoot;
  return place;
}

void EndAll() { Clear(); }

}  // namespace fidelity
