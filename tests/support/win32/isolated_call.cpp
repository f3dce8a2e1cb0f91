// The call runs in this test program started again with kFlag, the call's
// place in the image and its argument, both in hex, on its command line.
// There the call is made before anything else of the program (and before
// main): it prints its status to the output that the caller gave it, and
// the process ends. A process that ends in any other way crashed.
#include "support/isolated_call.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace test_support {

namespace {

const char kFlag[] = "--rf-isolated-call=";
const char kStatusMark[] = "isolated call returned ";
// Time for the call's process, started on a busy machine, to end.
const DWORD kWaitMilliseconds = 120000;

std::string Hex(const std::string& bytes) {
  std::string hex;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    hex += digits;
  }
  return hex;
}

std::string FromHex(const char* hex, const char* end) {
  std::string bytes;
  char digits[3] = {};
  for (; hex + 1 < end; hex += 2) {
    digits[0] = hex[0];
    digits[1] = hex[1];
    bytes += static_cast<char>(std::strtoul(digits, nullptr, 16));
  }
  return bytes;
}

uintptr_t ImageBase() { return reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)); }

// In a process started by MakeIsolatedCall: the call, its status, the end.
struct CallWhenAsked {
  CallWhenAsked() {
    const char* flag = std::strstr(GetCommandLineA(), kFlag);
    if (!flag) return;
    char* colon = nullptr;
    uintptr_t offset = std::strtoul(flag + sizeof kFlag - 1, &colon, 16);
    if (*colon != ':') ExitProcess(2);
    const char* end = colon + 1 + std::strspn(colon + 1, "0123456789abcdef");
    // A crash ends the process with its exception's code, and no more:
    // neither Windows' error report nor Wine's debugger, whose message
    // would reach the caller's error output, which Wine leaves to its
    // child processes.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    IsolatedCall call = reinterpret_cast<IsolatedCall>(ImageBase() + offset);
    LONG status = call(FromHex(colon + 1, end));
    char line[64];
    int length = std::snprintf(line, sizeof line, "%s%ld\n", kStatusMark, status);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
    ExitProcess(0);
  }
} callWhenAsked;

// Wine's ntdll names its build; Windows' has no such export.
std::string Platform(bool* isWine) {
  typedef const char*(__cdecl * BuildId)();
  BuildId buildId = reinterpret_cast<BuildId>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_build_id")));
  *isWine = buildId != nullptr;
  return buildId ? buildId() : "Windows";
}

}  // namespace

IsolatedOutcome MakeIsolatedCall(IsolatedCall call, const std::string& argument) {
  IsolatedOutcome outcome;
  outcome.platform = Platform(&outcome.platformIsWine);
  outcome.status = -1;
  char exe[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  char folder[MAX_PATH];
  char output[MAX_PATH];
  if (length == 0 || length >= MAX_PATH || !GetTempPathA(MAX_PATH, folder) ||
      !GetTempFileNameA(folder, "rfc", 0, output)) {
    ADD_FAILURE() << "no program path or temporary file for the isolated call: " << GetLastError();
    return outcome;
  }
  // The process's standard output and error, gone when both handles are.
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE file = CreateFileA(
      output, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot open " << output << ": " << GetLastError();
    return outcome;
  }
  char offset[32];
  std::snprintf(offset, sizeof offset, "%lx",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(call) - ImageBase()));
  std::string line = "\"" + std::string(exe) + "\" " + kFlag + offset + ":" + Hex(argument);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = file;
  startup.hStdError = file;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(exe, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start " << line << ": " << GetLastError();
    CloseHandle(file);
    return outcome;
  }
  CloseHandle(process.hThread);
  DWORD exitCode = 0;
  if (WaitForSingleObject(process.hProcess, kWaitMilliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    ADD_FAILURE() << "the isolated call did not end in " << kWaitMilliseconds / 1000 << " s";
  } else if (GetExitCodeProcess(process.hProcess, &exitCode)) {
    char printed[512] = {};
    DWORD read = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    ReadFile(file, printed, sizeof printed - 1, &read, nullptr);
    const char* status = std::strstr(printed, kStatusMark);
    if (exitCode == 0 && status) {
      outcome.status = std::strtol(status + sizeof kStatusMark - 1, nullptr, 10);
    } else {
      outcome.crashed = true;
      char how[64];
      std::snprintf(how, sizeof how, "exit status 0x%08lx", static_cast<unsigned long>(exitCode));
      outcome.crash = how;
    }
  }
  CloseHandle(process.hProcess);
  CloseHandle(file);
  return outcome;
}

}  // namespace test_support
