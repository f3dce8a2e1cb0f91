// Holds the machine in a state for the length of one run of a program, as a
// real machine may be when the program runs: keys that the system protects,
// a server file that another process has loaded, holds open or marked
// read-only. Undoes every state afterwards but an owner it set.
//
//   machine_state.exe [--protect KEY SDDL]... [--own KEY SDDL]...
//                     [--loaded FILE]... [--locked FILE]... [--read-only FILE]...
//                     --run PROGRAM
//
// --protect   sets the DACL of the SDDL string on HKEY_CLASSES_ROOT\KEY (of
//             this process's registry view) and leaves its owner, who is in
//             this process's token (Wine then grants deletion whatever the
//             DACL says); the key must then refuse full access and still
//             grant reading.
// --own       sets the owner and the DACL of the SDDL string on
//             HKEY_CLASSES_ROOT\KEY together, as the system's installer
//             leaves the keys it owns; the owner is to be one outside this
//             process's token (such as SY, the local system account), so that
//             the key grants nothing its DACL does not, deletion included. The
//             key must then refuse full access and a change of its owner, and
//             still grant reading. Not undone: nobody here may change the
//             key's security again, and the key outlives the run's cleanup;
//             the prefix is spent.
// --loaded    maps FILE into this process as a module (LoadLibrary).
// --locked    holds FILE open for reading and writing, without delete sharing.
// --read-only sets FILE's read-only attribute.
//
// Exits with the program's exit status. A state that cannot be made, seen
// to hold or undone, and file attributes that the run changed, are reported
// on stderr, with exit status 3: a test never passes on a state that was
// not there.

#include <windows.h>
// clang-format off: after windows.h, which it needs
#include <sddl.h>
// clang-format on

#include <cstdio>
#include <cstring>

namespace {

const int kStateFailed = 3;
const DWORD kRunBound = 60000;  // milliseconds
const int kMaxStates = 16;

enum Kind { kProtect, kOwn, kLoaded, kLocked, kReadOnly };

struct State {
  Kind kind;
  const char* target;
  const char* sddl;          // --protect, --own
  HKEY key;                  // --protect: held with the rights to restore it
  char savedSecurity[4096];  // --protect: the DACL before
  HMODULE module;            // --loaded
  HANDLE file;               // --locked
  DWORD savedAttributes;     // --read-only
};

State states[kMaxStates];
int stateCount = 0;

bool Fail(const char* what, const char* target, DWORD error) {
  std::fprintf(stderr, "machine_state: %s %s: error %lu\n", what, target,
               static_cast<unsigned long>(error));
  return false;
}

// The status of an open of HKEY_CLASSES_ROOT\`path` with `access`, closed again.
LONG TryOpen(const char* path, REGSAM access) {
  HKEY probe = 0;
  LONG rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, access, &probe);
  if (rc == ERROR_SUCCESS) RegCloseKey(probe);
  return rc;
}

bool Protect(State& s) {
  LONG rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, s.target, 0, READ_CONTROL | WRITE_DAC, &s.key);
  if (rc != ERROR_SUCCESS) return Fail("cannot open", s.target, rc);
  DWORD size = sizeof s.savedSecurity;
  rc = RegGetKeySecurity(s.key, DACL_SECURITY_INFORMATION, s.savedSecurity, &size);
  if (rc != ERROR_SUCCESS) return Fail("cannot read the security of", s.target, rc);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(s.sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return Fail("cannot convert the SDDL for", s.target, GetLastError());
  rc = RegSetKeySecurity(s.key, DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  if (rc != ERROR_SUCCESS) return Fail("cannot protect", s.target, rc);
  // The protection must be there: full access refused, reading granted.
  LONG full = TryOpen(s.target, KEY_ALL_ACCESS);
  LONG read = TryOpen(s.target, KEY_READ);
  if (full == ERROR_ACCESS_DENIED && read == ERROR_SUCCESS) return true;
  RegSetKeySecurity(s.key, DACL_SECURITY_INFORMATION, s.savedSecurity);
  if (full != ERROR_ACCESS_DENIED) return Fail("full access not refused on", s.target, full);
  return Fail("reading refused on", s.target, read);
}

bool Own(const State& s) {
  // Setting the owner takes WRITE_OWNER beside WRITE_DAC.
  HKEY key = 0;
  LONG rc = RegOpenKeyExA(HKEY_CLASSES_ROOT, s.target, 0, WRITE_DAC | WRITE_OWNER, &key);
  if (rc != ERROR_SUCCESS) return Fail("cannot open", s.target, rc);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(s.sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    RegCloseKey(key);
    return Fail("cannot convert the SDDL for", s.target, GetLastError());
  }
  rc = RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return Fail("cannot set the owner of", s.target, rc);
  // The owner must be outside this process's token: an owner in it would
  // be granted what the DACL refuses, under Wine deletion too.
  LONG full = TryOpen(s.target, KEY_ALL_ACCESS);
  if (full != ERROR_ACCESS_DENIED) return Fail("full access not refused on", s.target, full);
  LONG owner = TryOpen(s.target, WRITE_OWNER);
  if (owner != ERROR_ACCESS_DENIED)
    return Fail("a change of owner not refused on", s.target, owner);
  LONG read = TryOpen(s.target, KEY_READ);
  return read == ERROR_SUCCESS ? true : Fail("reading refused on", s.target, read);
}

bool MakeState(State& s) {
  switch (s.kind) {
    case kProtect:
      if (Protect(s)) return true;
      if (s.key) RegCloseKey(s.key);
      return false;
    case kOwn:
      return Own(s);
    case kLoaded:
      s.module = LoadLibraryA(s.target);
      return s.module ? true : Fail("cannot load", s.target, GetLastError());
    case kLocked:
      s.file = CreateFileA(s.target, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
      return s.file != INVALID_HANDLE_VALUE ? true : Fail("cannot open", s.target, GetLastError());
    case kReadOnly:
      s.savedAttributes = GetFileAttributesA(s.target);
      if (s.savedAttributes == INVALID_FILE_ATTRIBUTES)
        return Fail("cannot read the attributes of", s.target, GetLastError());
      if (SetFileAttributesA(s.target, s.savedAttributes | FILE_ATTRIBUTE_READONLY) &&
          (GetFileAttributesA(s.target) & FILE_ATTRIBUTE_READONLY))
        return true;
      SetFileAttributesA(s.target, s.savedAttributes);
      return Fail("cannot mark read-only", s.target, GetLastError());
  }
  return false;
}

bool UndoState(State& s) {
  switch (s.kind) {
    case kProtect: {
      LONG rc = RegSetKeySecurity(s.key, DACL_SECURITY_INFORMATION, s.savedSecurity);
      RegCloseKey(s.key);
      return rc == ERROR_SUCCESS ? true : Fail("cannot restore the security of", s.target, rc);
    }
    case kOwn:
      return true;  // cannot be undone: the prefix is thrown away
    case kLoaded:
      return FreeLibrary(s.module) ? true : Fail("cannot unload", s.target, GetLastError());
    case kLocked:
      return CloseHandle(s.file) ? true : Fail("cannot close", s.target, GetLastError());
    case kReadOnly: {
      // The run must have left them as they were made.
      bool kept = GetFileAttributesA(s.target) == (s.savedAttributes | FILE_ATTRIBUTE_READONLY);
      if (!SetFileAttributesA(s.target, s.savedAttributes))
        return Fail("cannot restore the attributes of", s.target, GetLastError());
      return kept ? true : Fail("the run changed the attributes of", s.target, 0);
    }
  }
  return false;
}

// Runs `program` with this process's standard handles; its exit status, or
// -1 when it could not be run or did not end within the bound.
int Run(const char* program) {
  char commandLine[MAX_PATH + 3];
  std::snprintf(commandLine, sizeof commandLine, "\"%s\"", program);
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  if (!CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    Fail("cannot run", program, GetLastError());
    return -1;
  }
  DWORD status = 0;
  if (WaitForSingleObject(process.hProcess, kRunBound) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    Fail("did not end within the bound:", program, 0);
    status = static_cast<DWORD>(-1);
  } else if (!GetExitCodeProcess(process.hProcess, &status)) {
    status = static_cast<DWORD>(-1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

bool AddState(Kind kind, const char* target, const char* sddl) {
  if (stateCount == kMaxStates) return false;
  State& s = states[stateCount++];
  std::memset(&s, 0, sizeof s);
  s.kind = kind;
  s.target = target;
  s.sddl = sddl;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    bool ok = false;
    bool protect = !std::strcmp(option, "--protect");
    if ((protect || !std::strcmp(option, "--own")) && i + 2 < argc) {
      ok = AddState(protect ? kProtect : kOwn, argv[i + 1], argv[i + 2]);
      i += 2;
    } else if (i + 1 < argc) {
      ++i;
      ok = true;
      if (!std::strcmp(option, "--loaded"))
        ok = AddState(kLoaded, argv[i], nullptr);
      else if (!std::strcmp(option, "--locked"))
        ok = AddState(kLocked, argv[i], nullptr);
      else if (!std::strcmp(option, "--read-only"))
        ok = AddState(kReadOnly, argv[i], nullptr);
      else if (!std::strcmp(option, "--run"))
        program = argv[i];
      else
        ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "machine_state: cannot use the argument %s\n", option);
      return kStateFailed;
    }
  }
  if (!program) {
    std::fprintf(stderr, "machine_state: no --run PROGRAM\n");
    return kStateFailed;
  }

  int made = 0;
  bool ready = true;
  for (; made < stateCount && ready; ++made) ready = MakeState(states[made]);
  if (!ready) --made;  // a state that failed leaves nothing to undo
  int status = ready ? Run(program) : -1;
  bool undone = true;
  while (made > 0) undone = UndoState(states[--made]) && undone;
  if (!ready || !undone || status == -1) return kStateFailed;
  return status;
}
