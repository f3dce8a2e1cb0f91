// The run under concurrent change: runs the real program RUNS times while a
// thread of this process keeps adding, deleting and rewriting keys and
// values inside the filter's two trees and beside them (a sibling class
// key, another filter's entry below the class manager's "Instance").
//
//   churn.exe PROGRAM RUNS SEED
//
// Before each run it registers the filter anew; during it the churn thread
// works at a pace and for a time drawn from SEED and the run's number.
// After each run it checks that the program ended within the bound with
// status 0 and that everything it made outside the two trees is there,
// unchanged. After the last run, a quiet run must leave both trees gone.
// Prints one line per failure (run number and what was lost); exits 1 on
// any failure.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "helpers/registry_writes.h"
#include "helpers/sample_filter.h"
#include "removal/removal_run.h"

namespace {

using helpers::kFilterClsid;
// Sorts before every real class key: the class manager the program finds.
const char kManager[] = "CLSID\\{00000000-0000-0000-0000-0000000C4A01}";
const char kSibling[] = "CLSID\\{00000000-0000-0000-0000-0000000C4A02}";
const std::string kOtherEntry = std::string(kManager) + "\\Instance\\" + helpers::kOtherFilterClsid;
const char kDirectory[] = "C:\\rf-churn";
const DWORD kRunBound = 30000;  // milliseconds

std::string ClassKey() { return std::string("CLSID\\") + kFilterClsid; }
std::string InstanceEntry() { return std::string(kManager) + "\\Instance\\" + kFilterClsid; }

unsigned long long state = 1;
unsigned Random(unsigned n) {
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  return static_cast<unsigned>((state >> 33) % n);
}

bool SetString(const std::string& path, const char* name, const std::string& text) {
  return helpers::WriteValue(HKEY_CLASSES_ROOT, path, name, REG_SZ, text + std::string(1, '\0')) ==
         ERROR_SUCCESS;
}

// The value's text, or "<missing>".
std::string GetString(const std::string& path, const char* name) {
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "<missing>";
  char data[512];
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return "<missing>";
  data[size] = 0;
  return data;
}

bool Exists(const std::string& path) {
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void DeleteValue(const std::string& path, const char* name) {
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

std::string File(const char* name) { return std::string(kDirectory) + "\\" + name; }

void MakeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// What the helper made outside the two trees and must find unchanged.
std::map<std::string, std::string> outside;  // "path|name" -> text

void Outside(const std::string& path, const char* name, const std::string& text) {
  if (SetString(path, name, text)) outside[path + "|" + name] = text;
}

void Register() {
  Outside(kManager, "", ClassManagerName);
  Outside(kOtherEntry, "FriendlyName", "Other Filter");
  Outside(kSibling, "", "Sibling");
  SetString(InstanceEntry(), "FriendlyName", "Sample Filter");
  SetString(InstanceEntry() + "\\Pins\\Output", "Direction", "out");
  SetString(ClassKey(), "", "Sample Filter");
  SetString(ClassKey() + "\\Level1\\Level2", "Deep", "two");
  SetString(ClassKey() + "\\InprocServer32", "", File("server.dll"));
  MakeFile(File("server.dll"));
}

volatile LONG stop = 0;
unsigned pace = 0;  // sleeps between changes, in milliseconds (0: none)
unsigned counter = 0;

// One change: inside a tree (anything goes) or beside them (recorded).
void Change() {
  const std::string trees[] = {ClassKey(), InstanceEntry(), ClassKey() + "\\Level1",
                               InstanceEntry() + "\\Pins"};
  const char* besides[] = {kSibling, kOtherEntry.c_str(), kManager};
  std::string n = std::to_string(++counter % 50);
  switch (Random(6)) {
    case 0:
      SetString(trees[Random(4)] + "\\c" + n, "v", "inside " + n);
      break;
    case 1:
      SetString(trees[Random(4)], ("v" + n).c_str(), "inside");
      break;
    case 2:
      DeleteValue(trees[Random(4)], ("v" + n).c_str());
      break;
    case 3:
      Outside(std::string(besides[Random(3)]) + "\\o" + n, "v",
              "beside " + std::to_string(counter));
      break;
    case 4:
      Outside(besides[Random(3)], ("w" + n).c_str(), "rewritten " + std::to_string(counter));
      break;
    default: {
      // Deletes one of its own keys beside the trees, and forgets it.
      std::string path = std::string(besides[Random(2)]) + "\\o" + n;
      HKEY parent = 0;
      if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS, &parent) == 0) {
        if (RegDeleteKeyA(parent, "") == ERROR_SUCCESS) outside.erase(path + "|v");
        RegCloseKey(parent);
      }
      break;
    }
  }
}

DWORD WINAPI Churn(LPVOID) {
  while (!stop) {
    Change();
    if (pace) Sleep(pace);
  }
  return 0;
}

int failures = 0;
void Fail(int run, const std::string& what) {
  std::printf("run %d: %s\n", run, what.c_str());
  ++failures;
}

void Check(int run) {
  for (const auto& entry : outside) {
    size_t bar = entry.first.find('|');
    std::string path = entry.first.substr(0, bar);
    std::string name = entry.first.substr(bar + 1);
    std::string now = GetString(path, name.c_str());
    if (now != entry.second)
      Fail(run, "lost or changed outside the trees: " + entry.first + " = \"" + entry.second +
                    "\", now \"" + now + "\"");
  }
  if (GetFileAttributesA(File("neighbour.dll").c_str()) == INVALID_FILE_ATTRIBUTES)
    Fail(run, "the neighbour file is gone");
}

// Runs the program once; false when it did not end in time or failed.
bool RunProgram(int run, const char* program) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  char commandLine[MAX_PATH + 2];
  std::snprintf(commandLine, sizeof commandLine, "\"%s\"", program);
  if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    Fail(run, "cannot start the program: " + std::to_string(GetLastError()));
    return false;
  }
  bool ended = WaitForSingleObject(process.hProcess, kRunBound) == WAIT_OBJECT_0;
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  if (!ended) {
    Fail(run, "the program did not end within " + std::to_string(kRunBound) + " ms");
    TerminateProcess(process.hProcess, 1);
  } else if (status != 0) {
    Fail(run, "exit status " + std::to_string(status));
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ended && status == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: churn.exe PROGRAM RUNS SEED\n");
    return 2;
  }
  const char* program = argv[1];
  int runs = std::atoi(argv[2]);
  state = std::strtoull(argv[3], nullptr, 10) * 2654435761ull + 1;
  CreateDirectoryA(kDirectory, nullptr);
  MakeFile(File("neighbour.dll"));
  for (int run = 1; run <= runs; ++run) {
    Register();
    pace = Random(4);  // 0 to 3 ms between changes
    stop = 0;
    HANDLE thread = CreateThread(nullptr, 0, Churn, nullptr, 0, nullptr);
    Sleep(Random(15));
    RunProgram(run, program);
    Sleep(Random(15));
    InterlockedExchange(&stop, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    Check(run);
  }
  // The quiet run: nothing changes the registry beside it.
  RunProgram(runs + 1, program);
  if (Exists(ClassKey())) Fail(runs + 1, "the filter's class key is still there");
  if (Exists(InstanceEntry())) Fail(runs + 1, "the filter's instance entry is still there");
  if (GetFileAttributesA(File("server.dll").c_str()) != INVALID_FILE_ATTRIBUTES)
    Fail(runs + 1, "the server file is still there");
  Check(runs + 1);
  std::printf("%d runs, %d failures, %u outside entries checked\n", runs, failures,
              static_cast<unsigned>(outside.size()));
  return failures ? 1 : 0;
}
