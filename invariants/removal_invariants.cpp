#include "invariants/removal_invariants.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "helpers/text.h"
#include "removal/removal_run.h"

namespace removal_check {

namespace {

using helpers::Upper;

// The key path of a snapshot entry.
std::string KeyOf(const std::string& entry) { return entry.substr(0, entry.find('|')); }

// The default value of the key at `path` below `root` as REG_SZ text up to
// its first NUL; false when the key cannot be opened or the value is missing
// or of another type. Reads through the platform, as the program does.
bool ReadDefaultString(HKEY root, const std::string& path, std::string* text) {
  HKEY key = 0;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG rc = RegQueryValueExA(key, "", nullptr, &type, nullptr, &size);
  std::string data(size + 1, '\0');
  if (rc == ERROR_SUCCESS)
    rc = RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  *text = data.substr(0, std::min<size_t>(size, data.find('\0')));
  return true;
}

// The names of the class keys below `hive`'s "Software\Classes\CLSID" whose
// default value names the class manager.
std::vector<std::string> ClassManagers(HKEY hive) {
  std::vector<std::string> managers;
  HKEY root = 0;
  if (RegOpenKeyExA(hive, "Software\\Classes\\CLSID", 0, KEY_READ, &root) != ERROR_SUCCESS)
    return managers;
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[4096];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(root, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.push_back(name);
  }
  // Relative to the class root, as the run opens them.
  for (const std::string& name : names) {
    std::string value;
    if (ReadDefaultString(root, name, &value) &&
        EqualsIgnoringAsciiCase(value.c_str(), ClassManagerName))
      managers.push_back(name);
  }
  RegCloseKey(root);
  return managers;
}

// The server path `stored` and its long form, upper-cased.
void AddServerFile(const std::string& stored, std::vector<std::string>* files) {
  if (stored.empty()) return;
  files->push_back(Upper(stored));
  char longPath[4096];
  DWORD length = GetLongPathNameA(stored.c_str(), longPath, sizeof longPath);
  if (length > 0 && length < sizeof longPath) files->push_back(Upper(longPath));
}

}  // namespace

const char kUserPrefix[] = "HKCU:";

bool IsAtOrBelow(const std::string& path, const std::string& key) {
  if (path.size() < key.size()) return false;
  if (Upper(path.substr(0, key.size())) != Upper(key)) return false;
  return path.size() == key.size() || path[key.size()] == '\\';
}

Snapshot Take() {
  Snapshot snapshot;
  std::istringstream dump(standin::Dump());
  std::string line, key;
  while (std::getline(dump, line)) {
    if (line.compare(0, 3, "  \"") == 0) {
      snapshot.entries.push_back(key + "|" + line);
    } else {
      key = line;
      snapshot.entries.push_back(key);
    }
  }
  std::istringstream user(standin::DumpUser());
  while (std::getline(user, line)) {
    if (line.compare(0, 3, "  \"") == 0) {
      snapshot.entries.push_back(kUserPrefix + key + "|" + line);
    } else {
      key = line;
      snapshot.entries.push_back(kUserPrefix + key);
    }
  }
  for (const std::string& file : standin::Files()) snapshot.files.push_back(Upper(file));
  std::sort(snapshot.entries.begin(), snapshot.entries.end());
  std::sort(snapshot.files.begin(), snapshot.files.end());
  return snapshot;
}

Targets FindTargets() {
  Targets targets;
  const std::string classKey = std::string("CLSID\\") + TargetFilterClsid;
  standin::ResolvePath(classKey, false, &targets.classKey);
  // Each tree by its own keys: the user's classes widen no target of the
  // machine's, and a link in them is never followed.
  for (const std::string& name : ClassManagers(HKEY_LOCAL_MACHINE)) {
    std::string entry;
    if (standin::ResolvePath("CLSID\\" + name + "\\Instance\\" + TargetFilterClsid, false,
                             &entry)) {
      targets.instanceEntries.push_back(entry);
      targets.entryManagers.push_back(name);
    }
  }
  targets.userClassKeys.push_back(classKey);
  for (const std::string& name : ClassManagers(HKEY_CURRENT_USER))
    targets.userEntries.push_back({"CLSID\\" + name + "\\Instance\\" + TargetFilterClsid, name});

  // The machine's own registration names the file; the user's never does.
  const std::string server = "Software\\Classes\\" + classKey + "\\InprocServer32";
  std::string stored;
  if (ReadDefaultString(HKEY_LOCAL_MACHINE, server, &stored))
    AddServerFile(stored, &targets.serverFiles);
  std::vector<std::string> userFiles;
  if (ReadDefaultString(HKEY_CURRENT_USER, server, &stored)) AddServerFile(stored, &userFiles);
  for (const std::string& file : userFiles)
    if (std::find(targets.serverFiles.begin(), targets.serverFiles.end(), file) ==
        targets.serverFiles.end())
      targets.userFiles.push_back(file);
  return targets;
}

void FaultPlan::Arm() const {
  for (const Fault& fault : faults) standin::FailCall(fault.call, fault.n, fault.error);
}

size_t FaultPlan::FailedCloses(const std::vector<standin::Call>& calls) const {
  std::set<size_t> failed;
  for (const Fault& fault : faults) {
    uint64_t seen = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
      if (fault.call != standin::Call::Any && fault.call != calls[i]) continue;
      if (++seen == fault.n) {
        failed.insert(i);
        break;
      }
    }
  }
  size_t closes = 0;
  for (size_t i : failed) closes += calls[i] == standin::Call::RegCloseKey;
  return closes;
}

std::vector<std::string> Check(const Snapshot& before, const Snapshot& after,
                               const Targets& targets, size_t failedCloses) {
  std::vector<std::string> problems;
  for (const std::string& entry : after.entries)
    if (!std::binary_search(before.entries.begin(), before.entries.end(), entry))
      problems.push_back("added or changed: " + entry);

  const size_t prefixLength = sizeof kUserPrefix - 1;
  std::set<std::string> touchedManagers, touchedUserManagers;
  for (const std::string& entry : before.entries) {
    if (std::binary_search(after.entries.begin(), after.entries.end(), entry)) continue;
    std::string key = KeyOf(entry);
    bool inEntry = false;
    if (key.compare(0, prefixLength, kUserPrefix) == 0) {
      key.erase(0, prefixLength);
      bool inClassKey = false;
      for (const std::string& copy : targets.userClassKeys) inClassKey |= IsAtOrBelow(key, copy);
      if (inClassKey) continue;
      for (const auto& copy : targets.userEntries) {
        if (IsAtOrBelow(key, copy.first)) {
          touchedUserManagers.insert(Upper(copy.second));
          inEntry = true;
          break;
        }
      }
    } else {
      if (!targets.classKey.empty() && IsAtOrBelow(key, targets.classKey)) continue;
      for (size_t i = 0; i < targets.instanceEntries.size(); ++i) {
        if (IsAtOrBelow(key, targets.instanceEntries[i])) {
          touchedManagers.insert(Upper(targets.entryManagers[i]));
          inEntry = true;
          break;
        }
      }
    }
    if (!inEntry) problems.push_back("deleted outside the targets: " + entry);
  }
  if (touchedManagers.size() > 1 || touchedUserManagers.size() > 1)
    problems.push_back("entries below more than one class manager of a tree were deleted");

  size_t filesDeleted = 0;
  for (const std::string& file : before.files) {
    if (std::binary_search(after.files.begin(), after.files.end(), file)) continue;
    ++filesDeleted;
    if (std::find(targets.userFiles.begin(), targets.userFiles.end(), file) !=
        targets.userFiles.end())
      problems.push_back("deleted a file that only the user's own classes name: " + file);
    else if (std::find(targets.serverFiles.begin(), targets.serverFiles.end(), file) ==
             targets.serverFiles.end())
      problems.push_back("deleted a file that is not the server: " + file);
  }
  if (filesDeleted > 1) problems.push_back("more than one file deleted");
  for (const std::string& file : after.files)
    if (!std::binary_search(before.files.begin(), before.files.end(), file))
      problems.push_back("file added: " + file);

  if (standin::OpenHandleCount() != failedCloses)
    problems.push_back("open handles after the run: " + std::to_string(standin::OpenHandleCount()) +
                       ", failed closes: " + std::to_string(failedCloses));
  if (standin::InvalidCloseCount() != 0)
    problems.push_back("closes of handles not open: " +
                       std::to_string(standin::InvalidCloseCount()));
  return problems;
}

}  // namespace removal_check
