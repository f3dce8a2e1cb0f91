#include "fidelity/sandbox.h"

#include <string>

#include "helpers/registry_writes.h"
#include "platform/platform.h"
#include "registry/registry_key.h"

namespace fidelity {

namespace {

// Below the real classes root, so that links can name it in the kernel's
// form. It stands in for HKEY_LOCAL_MACHINE, and its "Software\Classes" for
// the machine's classes, which the run sees as HKEY_CLASSES_ROOT too. An
// empty key of its own stands in for HKEY_CURRENT_USER: the seeds give the
// user no classes, as on the stand-in, and the prefix's own stay untouched.
const char kSandbox[] = "rf-fidelity";
const char kUserSandbox[] = "rf-fidelity-user";
const char kClasses[] = "rf-fidelity\\Software\\Classes";
const char kFileRoot[] = "C:\\rf-fidelity";

HKEY machine = 0;
HKEY user = 0;
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
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  for (HKEY* key : {&sandbox, &machine, &user}) {
    if (*key) RegCloseKey(*key);
    *key = 0;
  }
  // Link-safe and relative, key by key: the program's own tree deletion.
  RegistryKey root(HKEY_CLASSES_ROOT, "");
  root.DeleteKeyTree(kSandbox);
  root.DeleteKeyTree(kUserSandbox);
  if (!lastDirectory.empty()) RemoveDirectoryTree(lastDirectory);
  lastDirectory.clear();
}

}  // namespace

Place BeginSeed(uint32_t seed) {
  Clear();
  RegCreateKeyExA(HKEY_CLASSES_ROOT, kClasses, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sandbox,
                  nullptr);
  RegOpenKeyExA(HKEY_CLASSES_ROOT, kSandbox, 0, KEY_ALL_ACCESS, &machine);
  RegCreateKeyExA(HKEY_CLASSES_ROOT, kUserSandbox, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user,
                  nullptr);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, sandbox);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);
  RegOverridePredefKey(HKEY_CURRENT_USER, user);
  Place place{std::string(helpers::kMachineClassesKernelPath) + "\\" + kClasses, kFileRoot};
  CreateDirectoryA(kFileRoot, nullptr);
  place.fileRoot += "\\" + std::to_string(seed);
  CreateDirectoryA(place.fileRoot.c_str(), nullptr);
  lastDirectory = place.fileRoot;
  return place;
}

void EndAll() { Clear(); }

}  // namespace fidelity
