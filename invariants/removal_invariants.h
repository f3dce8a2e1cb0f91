// What every removal run on the stand-in must keep, whatever the registry
// holds and whatever the platform calls return: it changes nothing but its
// three targets, adds and alters nothing, and closes every handle it opened
// exactly once. Shared by the host's fault matrix and the fuzzer; host
// only (the run under concurrent change checks the same promises on Windows
// from outside the program, tests/e2e/).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/host/standin_control.h"

namespace removal_check {

// The stand-in's registry and file table at one moment.
struct Snapshot {
  // One line per key ("path") and per value ("path|value as dumped"); those
  // of the user's own classes begin with kUserPrefix.
  std::vector<std::string> entries;
  // Upper-case paths.
  std::vector<std::string> files;
};

Snapshot Take();

// Marks a snapshot entry of the user's own classes.
extern const char kUserPrefix[];

// What a run may delete, worked out from the state before it, as stored
// paths (links on the way resolved as the program's opens resolve them).
struct Targets {
  // The filter's class key below "CLSID" (a link there is itself the
  // target); empty when there is none.
  std::string classKey;
  // The filter's entry below the "Instance" key of every class key of the
  // machine's that could be taken for the class manager. A run may touch
  // only one of them, and only one of the user's.
  std::vector<std::string> instanceEntries;
  // For each of instanceEntries, the name of the class key below "CLSID"
  // that was taken for the class manager.
  std::vector<std::string> entryManagers;
  // Upper-case paths under which the server file that the machine's own
  // registration names may be deleted.
  std::vector<std::string> serverFiles;

  // The same targets in the user's own classes, found there alone, as
  // stored: the run never follows a link of the user's. An entry is paired
  // with its manager's name.
  std::vector<std::string> userClassKeys;
  std::vector<std::pair<std::string, std::string>> userEntries;
  // Upper-case paths of the file that only the user's own registration
  // names: any program the user runs can write it, and it is never deleted.
  std::vector<std::string> userFiles;
};

// Reads through the platform calls: call it before faults or a hook are set.
Targets FindTargets();

// The calls a run made, recorded through the stand-in's hook, and the faults
// armed for it: tells which calls failed, so that a failed RegCloseKey (the
// only way a handle may stay open) is accounted for.
struct FaultPlan {
  struct Fault {
    standin::Call call;
    uint64_t n;
    DWORD error;
  };
  std::vector<Fault> faults;

  // Arms every fault with the stand-in.
  void Arm() const;
  // How many of `calls` (in order, from the moment of arming) were
  // RegCloseKey calls that an armed fault made fail.
  size_t FailedCloses(const std::vector<standin::Call>& calls) const;
};

// Every way the run broke the invariants, one line each; empty when it kept
// them all. `failedCloses` handles may be left open, no more and no fewer.
std::vector<std::string> Check(const Snapshot& before, const Snapshot& after,
                               const Targets& targets, size_t failedCloses);

// Whether `path` is `key` or lies below it, without regard to letter case.
bool IsAtOrBelow(const std::string& path, const std::string& key);

}  // namespace removal_check
