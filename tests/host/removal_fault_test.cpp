// Whole runs on the stand-in where the platform misbehaves or the registry
// holds what a real one would not: injected failures, a missing long-path
// function, names and paths past the buffers. Each run must end, close
// every handle it opened exactly once and touch nothing but its targets.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/host/standin_control.h"
#include "removal/removal_run.h"
#include "support/host/standin_fixture.h"
#include "support/removal_fixture.h"
#include "support/test_files.h"
#include "support/test_registry.h"

namespace {

using test_support::FileExists;
using test_support::KeyExists;

// A system older than the deletion through a checked handle: Windows XP,
// and before it (where GetLongPathNameA may be missing too).
void WithoutHandleDeletion() {
  standin::SetKernel32FunctionPresent("GetFinalPathNameByHandleA", false);
  standin::SetKernel32FunctionPresent("SetFileInformationByHandle", false);
}

class HostRemovalTest : public test_support::OnFreshStandin<test_support::RemovalFixture> {};

using test_support::RemovalFixture;
using test_support::Scenario;

// The rows whose run leaves the class root as a whole run must; the host
// states below are what only the stand-in can make.
const Scenario kHostScenarios[] = {
    // The entry stands below a key that is no class manager.
    {"NoClassManagerAnywhere", [](RemovalFixture& t) { return t.RegisterWholeFilter(); }, false,
     true,
     [](RemovalFixture& t) { EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, t.InstanceEntryPath())); }},
    {"WithoutLongPathFunctionTheStoredPathIsDeleted",
     [](RemovalFixture& t) {
       standin::SetLongPathFunctionPresent(false);
       WithoutHandleDeletion();
       t.RegisterManager();
       t.RegisterInstanceEntry();
       t.RegisterClassKey();
       std::string server = test_support::CreateTestFile(t.directory_, "Long Server.dll");
       t.RegisterServer(REG_SZ, test_support::ShortPathOf(server) + '\0');
       return server;
     },
     true, true,
     [](RemovalFixture&) {
       EXPECT_EQ(nullptr, pfnGetLongPathName);
       EXPECT_EQ(0u, standin::CallCount(standin::Call::GetLongPathNameA));
     }},
    // Where the final path can be checked, the short form's file stays: its
    // final path is the long form (ServerPathLengthTest). Here it is deleted
    // through its stored short name.
    {"LongFormTooLongForTheBufferFallsBackToTheStoredPath",
     [](RemovalFixture& t) {
       WithoutHandleDeletion();
       t.RegisterManager();
       t.RegisterInstanceEntry();
       t.RegisterClassKey();
       std::string longPath =
           "C:\\" + std::string(150, 'd') + "\\" + std::string(150, 'f') + ".dll";
       standin::AddShortName("C:\\DDDDDD~1\\FFFFFF~1.DLL", longPath);
       t.RegisterServer(REG_SZ, std::string("C:\\DDDDDD~1\\FFFFFF~1.DLL") + '\0');
       return longPath;
     },
     true, true},
    {"ServerPathFillingTheBufferWithoutTerminatorDeletesNothing",
     [](RemovalFixture& t) {
       t.RegisterManager();
       t.RegisterClassKey();
       std::string path = "C:\\" + std::string(253, 'x') + ".dll";  // 260 bytes
       standin::AddFile(path);
       t.RegisterServer(REG_SZ, path);
       return path;
     },
     false, false,
     [](RemovalFixture&) { EXPECT_EQ(0u, standin::CallCount(standin::Call::DeleteFileA)); }},
    {"ServerFileThatCannotBeDeletedStaysAndTheKeyStillGoes",
     [](RemovalFixture& t) {
       t.RegisterManager();
       std::string server = t.RegisterWholeFilter();
       standin::LockFile(server, ERROR_SHARING_VIOLATION);
       return server;
     },
     true, false},
    // "CLSID\<name>\Instance" no longer fits in 260 characters.
    {"ManagerNameTooLongForTheInstancePathSkipsTheEntry",
     [](RemovalFixture& t) {
       std::string name = std::string(250, '0');
       standin::SetString(t.ClassPath(name), "", ClassManagerName);
       standin::SetString(t.ClassPath(name) + "\\Instance\\" + TargetFilterClsid, "F", "x");
       return t.RegisterWholeFilter();
     },
     false, true,
     [](RemovalFixture& t) {
       EXPECT_TRUE(standin::KeyExists(t.ClassPath(std::string(250, '0')) + "\\Instance\\" +
                                      TargetFilterClsid));
     }},
};

class HostScenarioTest : public HostRemovalTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(HostScenarioTest, LeavesOnlyItsTargetsGone) { RunScenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Rows, HostScenarioTest, ::testing::ValuesIn(kHostScenarios),
                         test_support::ScenarioName);

TEST_F(HostRemovalTest, NoClassRootAtAll) {
  standin::Reset();
  standin::SetString(TargetFilterClsid, "", "not the target");
  std::string before = standin::Dump();
  EXPECT_EQ(0, RunRemoval());
  EXPECT_EQ(before, standin::Dump());
}

TEST_F(HostRemovalTest, ClassRootThatDeniesAccessIsLeftUnread) {
  RegisterManager();
  RegisterWholeFilter();
  standin::DenyAccess("CLSID");
  std::string before = standin::Dump();
  EXPECT_EQ(0, RunRemoval());
  EXPECT_EQ(before, standin::Dump());
  EXPECT_EQ(0u, standin::CallCount(standin::Call::RegEnumKeyExA));
  // The long-path function is looked up all the same.
  EXPECT_NE(nullptr, pfnGetLongPathName);
}

TEST_F(HostRemovalTest, ClassRootUnavailableAtTheLastStepDeletesNothingAtTheRoot) {
  RegisterManager();
  RegisterWholeFilter();
  // A key named like the filter's class identifier directly below the root:
  // not the target, and it must survive.
  standin::SetString(TargetFilterClsid, "", "decoy");
  // The class root becomes unavailable once the server file was handled.
  standin::SetCallHook([](standin::Call call) {
    if (call == standin::Call::SetFileInformationByHandle) standin::DenyAccess("CLSID");
  });
  RunRemoval();
  standin::SetCallHook(nullptr);
  EXPECT_TRUE(standin::KeyExists(TargetFilterClsid));
  EXPECT_TRUE(standin::KeyExists(ClassPath(TargetFilterClsid)));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, InstanceEntryPath()));
}

TEST_F(HostRemovalTest, LongestManagerNameThatFitsIsStillUsed) {
  std::string name = std::string(244, '0');  // "CLSID\" + 244 + "\Instance" = 259
  standin::SetString(ClassPath(name), "", ClassManagerName);
  standin::SetString(ClassPath(name) + "\\Instance\\" + TargetFilterClsid, "F", "x");
  RunRemoval();
  EXPECT_FALSE(standin::KeyExists(ClassPath(name) + "\\Instance\\" + TargetFilterClsid));
  EXPECT_TRUE(standin::KeyExists(ClassPath(name) + "\\Instance"));
}

// Under Wine, in MachineStateTest: an owned key with sub-keys in the class
// key in test_owned_key_with_a_sub_key_in_the_class_key_and_owned_instance_entry,
// one in the instance entry in test_owned_class_key.
TEST_F(HostRemovalTest, ProtectedKeysInsideBothTreesLeaveOnlyThemselves) {
  RegisterManager();
  std::string server = RegisterWholeFilter();
  standin::DenyAccess(InstanceEntryPath() + "\\Pins");
  standin::DenyAccess(ClassPath(TargetFilterClsid) + "\\Level1\\Level2");
  RunRemoval();
  EXPECT_TRUE(standin::KeyExists(InstanceEntryPath() + "\\Pins\\Output"));
  EXPECT_TRUE(standin::KeyExists(ClassPath(TargetFilterClsid) + "\\Level1\\Level2\\Level3"));
  EXPECT_FALSE(standin::KeyExists(ClassPath(TargetFilterClsid) + "\\InprocServer32"));
  EXPECT_FALSE(FileExists(server));
}

// Keys protected by their own security descriptors, as the system protects
// the keys it installs: readable, or not even that. The class root is the
// run's gate; the lookup and the "Instance" key need no more than reading;
// a class key that may not be changed stays with the file it names.
struct ProtectedKeyCase {
  const char* label;
  enum Key { kNone, kRoot, kManager, kInstance, kClassKey } keys[2];
  REGSAM allowed[2];
  bool entryGoes;
  bool filterGoes;  // the class key and its file
};

class ProtectedKeyTest : public HostRemovalTest,
                         public ::testing::WithParamInterface<ProtectedKeyCase> {
 protected:
  std::string PathOf(ProtectedKeyCase::Key key) const {
    switch (key) {
      case ProtectedKeyCase::kRoot:
        return "CLSID";
      case ProtectedKeyCase::kManager:
        return ClassPath(manager_);
      case ProtectedKeyCase::kInstance:
        return ClassPath(manager_) + "\\Instance";
      case ProtectedKeyCase::kClassKey:
        return ClassPath(TargetFilterClsid);
      default:
        return std::string();
    }
  }
};

TEST_P(ProtectedKeyTest, LeavesWhatMayNotChangeAndRemovesTheRest) {
  const ProtectedKeyCase& c = GetParam();
  RegisterManager();
  std::string server = RegisterWholeFilter();
  auto expected = Snapshot();
  for (int i = 0; i < 2; ++i)
    if (c.keys[i] != ProtectedKeyCase::kNone) standin::DenyAccess(PathOf(c.keys[i]), c.allowed[i]);
  if (c.entryGoes)
    expected = test_support::WithoutKey(expected, manager_ + "\\Instance\\" + TargetFilterClsid);
  if (c.filterGoes) expected = test_support::WithoutKey(expected, TargetFilterClsid);

  RunRemoval();

  for (ProtectedKeyCase::Key key : c.keys)
    if (key != ProtectedKeyCase::kNone) standin::AllowAccess(PathOf(key));
  EXPECT_EQ(expected, Snapshot()) << c.label;
  EXPECT_EQ(c.filterGoes, !FileExists(server)) << c.label;
  EXPECT_TRUE(FileExists(neighbour_));
}

const REGSAM kReadAndCreate = KEY_READ | KEY_CREATE_SUB_KEY;

// Under Wine, in MachineStateTest: "manager and Instance readable" is
// test_manager_protected, "class root readable" test_class_root_protected,
// and "class key readable" test_class_key_protected (the owner in the token)
// and test_owned_class_key (an owner outside it, which refuses deletion too).

INSTANTIATE_TEST_SUITE_P(
    States, ProtectedKeyTest,
    ::testing::Values(ProtectedKeyCase{"manager and Instance readable",
                                       {ProtectedKeyCase::kManager, ProtectedKeyCase::kInstance},
                                       {KEY_READ, kReadAndCreate},
                                       true,
                                       true},
                      ProtectedKeyCase{"manager readable for its values only",
                                       {ProtectedKeyCase::kManager, ProtectedKeyCase::kNone},
                                       {KEY_QUERY_VALUE, 0},
                                       true,
                                       true},
                      ProtectedKeyCase{"Instance readable",
                                       {ProtectedKeyCase::kInstance, ProtectedKeyCase::kNone},
                                       {KEY_READ, 0},
                                       true,
                                       true},
                      ProtectedKeyCase{"manager unreadable",
                                       {ProtectedKeyCase::kManager, ProtectedKeyCase::kNone},
                                       {0, 0},
                                       false,
                                       true},
                      ProtectedKeyCase{"class root readable",
                                       {ProtectedKeyCase::kRoot, ProtectedKeyCase::kNone},
                                       {KEY_READ, 0},
                                       false,
                                       false},
                      ProtectedKeyCase{"class key readable",
                                       {ProtectedKeyCase::kClassKey, ProtectedKeyCase::kNone},
                                       {KEY_READ, 0},
                                       true,
                                       false},
                      ProtectedKeyCase{"class key unreadable",
                                       {ProtectedKeyCase::kClassKey, ProtectedKeyCase::kNone},
                                       {0, 0},
                                       true,
                                       false}));

// The running user's own registration of the filter, in his classes, which
// HKEY_CLASSES_ROOT shows over the machine's. Any program the user runs can
// write it, so the file it names (here a system file) is never deleted; the
// server file is the one the machine's registration names, behind the
// machine's own gate. The user's keys go through HKEY_CLASSES_ROOT: its copy
// of the class key goes first, and the machine's, emptied of its sub-keys
// in the same walk, shows through until the next run removes it.
struct UserClassCase {
  const char* label;
  bool machine;  // the machine's registration, naming the filter's file
  enum { kNone, kSystemFile, kSameFile } user;
  enum { kOpen, kServerReadable, kClassKeyReadable, kUsersClassKeyReadable } protection;
  bool fileGoes;           // the filter's file, in the first run
  bool machineKeyLeft[2];  // the machine's class key after each run
  bool machineServerLeft;  // its "InprocServer32" after both runs
};

class UserClassTest : public HostRemovalTest,
                      public ::testing::WithParamInterface<UserClassCase> {};

TEST_P(UserClassTest, OnlyTheMachinesRegistrationNamesTheFileToDelete) {
  const UserClassCase& c = GetParam();
  const std::string classKey = ClassPath(TargetFilterClsid);
  const std::string server = classKey + "\\InprocServer32";
  RegisterManager(ClassManagerName);
  std::string file = test_support::CreateTestFile(directory_, "Sample Filter Server.dll");
  std::string system = test_support::CreateTestFile(directory_, "system32.dll");
  if (c.machine) {
    RegisterInstanceEntry();
    RegisterClassKey();
    RegisterServer(REG_SZ, file + '\0');
  }
  if (c.user != UserClassCase::kNone) {
    standin::SetUserString(classKey, "", "Sample Filter");
    standin::SetUserString(classKey + "\\Settings", "Mode", "user");
    standin::SetUserString(server, "", c.user == UserClassCase::kSameFile ? file : system);
  }
  if (c.protection == UserClassCase::kServerReadable) standin::DenyAccess(server, KEY_READ);
  if (c.protection == UserClassCase::kClassKeyReadable) standin::DenyAccess(classKey, KEY_READ);
  // The class key as HKEY_CLASSES_ROOT shows it may not be changed: it
  // stays, with everything below it, in both classes.
  bool userKeyStays = c.protection == UserClassCase::kUsersClassKeyReadable;
  if (userKeyStays) standin::DenyUserAccess(classKey, KEY_READ);

  for (int run = 0; run < 2; ++run) {
    RunRemoval();
    EXPECT_EQ(c.fileGoes, !FileExists(file)) << c.label << ", run " << run + 1;
    EXPECT_TRUE(FileExists(system)) << c.label << ", run " << run + 1;
    EXPECT_TRUE(FileExists(neighbour_)) << c.label << ", run " << run + 1;
    EXPECT_EQ(userKeyStays, standin::UserKeyExists(classKey)) << c.label << ", run " << run + 1;
    EXPECT_EQ(c.machineKeyLeft[run], standin::KeyExists(classKey))
        << c.label << ", run " << run + 1;
    EXPECT_FALSE(standin::KeyExists(InstanceEntryPath())) << c.label << ", run " << run + 1;
  }
  EXPECT_EQ(c.machineServerLeft, standin::KeyExists(server)) << c.label;
  EXPECT_EQ(std::vector<std::string>(c.fileGoes ? 1 : 0, file), standin::DeleteFileNames())
      << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Registrations, UserClassTest,
    ::testing::Values(UserClassCase{"user's names a system file",
                                    true,
                                    UserClassCase::kSystemFile,
                                    UserClassCase::kOpen,
                                    true,
                                    {true, false},
                                    false},
                      UserClassCase{"user's names a system file, machine's server readable",
                                    true,
                                    UserClassCase::kSystemFile,
                                    UserClassCase::kServerReadable,
                                    false,
                                    {true, true},
                                    true},
                      UserClassCase{"user's names a system file, machine's class key readable",
                                    true,
                                    UserClassCase::kSystemFile,
                                    UserClassCase::kClassKeyReadable,
                                    false,
                                    {true, true},
                                    false},
                      UserClassCase{"user's names a system file, user's class key readable",
                                    true,
                                    UserClassCase::kSystemFile,
                                    UserClassCase::kUsersClassKeyReadable,
                                    false,
                                    {true, true},
                                    true},
                      UserClassCase{"both name the filter's file",
                                    true,
                                    UserClassCase::kSameFile,
                                    UserClassCase::kOpen,
                                    true,
                                    {true, false},
                                    false},
                      UserClassCase{"user's only",
                                    false,
                                    UserClassCase::kSystemFile,
                                    UserClassCase::kOpen,
                                    false,
                                    {false, false},
                                    false},
                      UserClassCase{"machine's only",
                                    true,
                                    UserClassCase::kNone,
                                    UserClassCase::kOpen,
                                    true,
                                    {false, false},
                                    false}));

// A lookup fetch that fails in any way ends the lookup without a match; the
// other steps still run.
class LookupFetchFailureTest : public HostRemovalTest,
                               public ::testing::WithParamInterface<DWORD> {};

TEST_P(LookupFetchFailureTest, EndsTheLookupAndTheOtherStepsStillRun) {
  RegisterManager();
  std::string server = RegisterWholeFilter();
  auto before = Snapshot();
  standin::FailCall(standin::Call::RegEnumKeyExA, 1, GetParam());
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before, false), Snapshot());
  EXPECT_FALSE(FileExists(server));
}

INSTANTIATE_TEST_SUITE_P(Codes, LookupFetchFailureTest,
                         ::testing::Values(ERROR_MORE_DATA, ERROR_ACCESS_DENIED,
                                           ERROR_INVALID_HANDLE, ERROR_KEY_DELETED,
                                           ERROR_NO_MORE_ITEMS, ERROR_NOT_ENOUGH_MEMORY));

// One failure of each registry call anywhere in the run: the run ends, and
// whatever it did delete belongs to the targets.
struct InjectedFault {
  standin::Call call;
  DWORD error;
};

class InjectedFaultTest : public HostRemovalTest,
                          public ::testing::WithParamInterface<InjectedFault> {};

TEST_P(InjectedFaultTest, EveryOccurrenceLeavesOnlyTargetsDeleted) {
  for (uint64_t n = 1;; ++n) {
    standin::Reset();
    RemovalFixture::SetUp();
    RegisterManager();
    RegisterWholeFilter();
    auto before = Snapshot();
    standin::FailCall(GetParam().call, n, GetParam().error);
    uint64_t callsBefore = standin::CallCount(GetParam().call);
    RunRemoval();
    uint64_t made = standin::CallCount(GetParam().call) - callsBefore;
    auto after = Snapshot();
    // Every line that went belongs to one of the two target trees.
    auto expected = ExpectedAfter(before);
    for (const std::string& line : after)
      EXPECT_TRUE(std::find(before.begin(), before.end(), line) != before.end()) << line;
    for (const std::string& line : before) {
      bool kept = std::find(after.begin(), after.end(), line) != after.end();
      bool target = std::find(expected.begin(), expected.end(), line) == expected.end();
      EXPECT_TRUE(kept || target) << "lost " << line;
    }
    EXPECT_TRUE(FileExists(neighbour_));
    EXPECT_EQ(0u, standin::OpenHandleCount());
    EXPECT_EQ(0u, standin::InvalidCloseCount());
    if (n >= made) break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, InjectedFaultTest,
    ::testing::Values(InjectedFault{standin::Call::RegOpenKeyExA, ERROR_ACCESS_DENIED},
                      InjectedFault{standin::Call::RegOpenKeyExA, ERROR_FILE_NOT_FOUND},
                      InjectedFault{standin::Call::RegEnumKeyExA, ERROR_MORE_DATA},
                      InjectedFault{standin::Call::RegEnumValueA, ERROR_KEY_DELETED},
                      InjectedFault{standin::Call::RegQueryValueExA, ERROR_MORE_DATA},
                      InjectedFault{standin::Call::RegDeleteValueA, ERROR_ACCESS_DENIED},
                      InjectedFault{standin::Call::NtDeleteKey,
                                    static_cast<DWORD>(STATUS_ACCESS_DENIED)},
                      InjectedFault{standin::Call::GetLongPathNameA, ERROR_FILE_NOT_FOUND},
                      InjectedFault{standin::Call::DeleteFileA, ERROR_ACCESS_DENIED}));

}  // namespace

namespace {

// A path of exactly `length` characters below "C:\".
std::string PathOfLength(size_t length, char fill) {
  return "C:\\" + std::string(length - 7, fill) + ".dll";
}

// The server path at and around its limits, stored as it is or in a short
// form whose long form has the given length: what the run deletes, and by
// which name.
struct ServerPathCase {
  const char* label;
  size_t storedLength;  // 0: a short form "C:\SRV~1.DLL"
  size_t longLength;    // with a short form: the length of its long form
  bool longPathFunction;
  // kCheckedByStoredName: opened by the stored name, whose final path
  // differs, and left.
  enum { kNothing, kByStoredName, kByLongName, kCheckedByStoredName } deleted;
  bool handleDeletion = true;  // false: Windows XP, DeleteFileA
};

class ServerPathLengthTest : public HostRemovalTest,
                             public ::testing::WithParamInterface<ServerPathCase> {};

TEST_P(ServerPathLengthTest, DeletesOnlyAPathThatFitsAndPrefersTheLongForm) {
  const ServerPathCase& c = GetParam();
  standin::SetLongPathFunctionPresent(c.longPathFunction);
  if (!c.handleDeletion) WithoutHandleDeletion();
  RegisterManager();
  RegisterInstanceEntry();
  RegisterClassKey();
  std::string stored = c.storedLength ? PathOfLength(c.storedLength, 's') : "C:\\SRV~1.DLL";
  std::string file = stored;
  if (c.storedLength) {
    standin::AddFile(stored);
  } else {
    file = PathOfLength(c.longLength, 'l');
    standin::AddShortName(stored, file);
  }
  RegisterServer(REG_SZ, stored + '\0');
  auto before = Snapshot();

  RunRemoval();

  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  bool stays =
      c.deleted == ServerPathCase::kNothing || c.deleted == ServerPathCase::kCheckedByStoredName;
  EXPECT_EQ(stays, FileExists(file)) << c.label;
  std::vector<std::string> names;
  if (c.deleted == ServerPathCase::kByStoredName ||
      c.deleted == ServerPathCase::kCheckedByStoredName)
    names.push_back(stored);
  if (c.deleted == ServerPathCase::kByLongName) names.push_back(file);
  EXPECT_EQ(names, standin::DeleteFileNames()) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Boundary, ServerPathLengthTest,
    ::testing::Values(
        ServerPathCase{"stored 258", 258, 0, true, ServerPathCase::kByStoredName},
        ServerPathCase{"stored 259", 259, 0, true, ServerPathCase::kByStoredName},
        ServerPathCase{"stored 260", 260, 0, true, ServerPathCase::kNothing},
        ServerPathCase{"stored 261", 261, 0, true, ServerPathCase::kNothing},
        ServerPathCase{"no function, 259", 259, 0, false, ServerPathCase::kByStoredName},
        ServerPathCase{"long form 258", 0, 258, true, ServerPathCase::kByLongName},
        ServerPathCase{"long form 259", 0, 259, true, ServerPathCase::kByLongName},
        // Opened by its short form, whose final path is the long one.
        ServerPathCase{"long form 260", 0, 260, true, ServerPathCase::kCheckedByStoredName},
        ServerPathCase{"long form 261", 0, 261, true, ServerPathCase::kCheckedByStoredName},
        ServerPathCase{"XP, stored 259", 259, 0, true, ServerPathCase::kByStoredName, false},
        ServerPathCase{"XP, stored 260", 260, 0, true, ServerPathCase::kNothing, false},
        ServerPathCase{"XP, long form 259", 0, 259, true, ServerPathCase::kByLongName, false},
        ServerPathCase{"XP, long form 260", 0, 260, true, ServerPathCase::kByStoredName, false}));

// The server file where a folder of its registered path leads elsewhere: a
// junction or link that a user put there, or WOW64's own redirection of
// the system folder for a 32-bit process. Only the file the registration
// names, or the one WOW64 puts in its place, may go; the redirection guard
// is asked for once in every run where the system has it.
struct RedirectionCase {
  const char* label;
  std::string registered;    // the server path as registered
  std::string file;          // where the file of that name lies
  std::string linkedFolder;  // a folder made a link to `target` (or none)
  std::string target;
  std::string wow64;  // the 32-bit system folder, empty on a 32-bit system
  enum {
    kAll,
    kWithoutHandleDeletion,
    kWithoutWow64Directory,
    kWithoutGuard,
    kGuardRefused,
    kFinalPathFails,
    kFullPathFails,
    kSystemFolderUnknown,
    kSystemFolderFillingTheBuffer,  // 259 characters
    kSystemFolderPastTheBuffer,     // 260 characters
    kWow64FolderFillingTheBuffer,
    kWow64FolderPastTheBuffer
  } system;
  bool fileGoes;
};

class RedirectionTest : public HostRemovalTest,
                        public ::testing::WithParamInterface<RedirectionCase> {};

TEST_P(RedirectionTest, DeletesOnlyTheFileTheRegistrationNames) {
  const RedirectionCase& c = GetParam();
  RegisterManager();
  RegisterInstanceEntry();
  RegisterClassKey();
  standin::AddFile(c.file);
  if (!c.linkedFolder.empty()) standin::LinkFolder(c.linkedFolder, c.target);
  std::string systemFolder = "C:\\Windows\\System32";
  if (c.system == RedirectionCase::kSystemFolderFillingTheBuffer)
    systemFolder = "C:\\" + std::string(256, 'w');
  if (c.system == RedirectionCase::kSystemFolderPastTheBuffer)
    systemFolder = "C:\\" + std::string(257, 'w');
  std::string wow64Folder = c.wow64;
  if (c.system == RedirectionCase::kWow64FolderFillingTheBuffer)
    wow64Folder = "C:\\" + std::string(256, 'w');
  if (c.system == RedirectionCase::kWow64FolderPastTheBuffer)
    wow64Folder = "C:\\" + std::string(257, 'w');
  standin::SetSystemFolders(systemFolder, wow64Folder);
  if (c.system == RedirectionCase::kWithoutHandleDeletion) WithoutHandleDeletion();
  if (c.system == RedirectionCase::kWithoutWow64Directory)
    standin::SetKernel32FunctionPresent("GetSystemWow64DirectoryA", false);
  if (c.system == RedirectionCase::kWithoutGuard)
    standin::SetKernel32FunctionPresent("SetProcessMitigationPolicy", false);
  if (c.system == RedirectionCase::kGuardRefused)
    standin::FailCall(standin::Call::SetProcessMitigationPolicy, 1, ERROR_INVALID_PARAMETER);
  if (c.system == RedirectionCase::kSystemFolderUnknown)
    standin::FailCall(standin::Call::GetSystemDirectoryA, 1, ERROR_NOT_ENOUGH_MEMORY);
  if (c.system == RedirectionCase::kFullPathFails)
    standin::FailCall(standin::Call::GetFullPathNameA, 1, ERROR_NOT_ENOUGH_MEMORY);
  if (c.system == RedirectionCase::kFinalPathFails)
    standin::FailCall(standin::Call::GetFinalPathNameByHandleA, 1, ERROR_NOT_ENOUGH_MEMORY);
  RegisterServer(REG_SZ, c.registered + '\0');
  auto before = Snapshot();

  RunRemoval();

  EXPECT_EQ(ExpectedAfter(before), Snapshot()) << c.label;
  EXPECT_EQ(c.fileGoes, !standin::FileExists(c.file)) << c.label;
  EXPECT_TRUE(FileExists(neighbour_)) << c.label;
  bool handleDeletion = c.system != RedirectionCase::kWithoutHandleDeletion;
  // DeleteFileA by name only where the handle cannot be checked.
  std::vector<std::string> byName;
  if (!handleDeletion) byName.push_back(c.registered);
  EXPECT_EQ(byName.size(), standin::CallCount(standin::Call::DeleteFileA)) << c.label;
  // At most one open, and none without the calls that check it.
  EXPECT_GE(handleDeletion ? 1u : 0u, standin::CallCount(standin::Call::CreateFileA)) << c.label;
  std::vector<std::pair<DWORD, DWORD>> policies;
  if (c.system != RedirectionCase::kWithoutGuard && c.system != RedirectionCase::kGuardRefused)
    policies.emplace_back(16, 1);  // ProcessRedirectionTrustPolicy, EnforceRedirectionTrust
  EXPECT_EQ(policies, standin::MitigationPolicies()) << c.label;
}

const char kVendorServer[] = "C:\\Vendor\\Sub\\filter.ax";
const char kVictim[] = "C:\\Victim\\filter.ax";
const char kSystemServer[] = "C:\\Windows\\System32\\filter.ax";
const char kWow64Server[] = "C:\\Windows\\SysWOW64\\filter.ax";
const char kSysWow64[] = "C:\\Windows\\SysWOW64";
// A registered path of 259 characters whose folder leads to one with a
// name one character longer: the final path needs 265 bytes, one more
// than the run's buffer (the prefix, the longest full path and its
// terminator) holds.
const std::string kLongFolder = "C:\\" + std::string(100, 'f');
const std::string kLongTarget = "C:\\" + std::string(101, 't');
const std::string kLongServer = kLongFolder + "\\" + std::string(155, 's');
const std::string kLongVictim = kLongTarget + "\\" + std::string(155, 's');

INSTANTIATE_TEST_SUITE_P(
    Folders, RedirectionTest,
    ::testing::Values(
        RedirectionCase{"plain path", kVendorServer, kVendorServer, "", "", "",
                        RedirectionCase::kAll, true},
        RedirectionCase{"folder made a link", kVendorServer, kVictim, "C:\\Vendor\\Sub",
                        "C:\\Victim", "", RedirectionCase::kAll, false},
        RedirectionCase{"upper folder made a link", kVendorServer, "C:\\Victim\\Sub\\filter.ax",
                        "C:\\Vendor", "C:\\Victim", "", RedirectionCase::kAll, false},
        RedirectionCase{"dots in the path", "C:/Vendor/Sub/../Sub/./filter.ax.", kVendorServer, "",
                        "", "", RedirectionCase::kAll, true},
        // The separator after the folder stands where the system folder's
        // path ends.
        RedirectionCase{"WOW64: folder as long as the system folder made a link",
                        "C:\\Vendor\\Subfolder\\filter.ax", kVictim, "C:\\Vendor\\Subfolder",
                        "C:\\Victim", kSysWow64, RedirectionCase::kAll, false},
        RedirectionCase{"WOW64: system folder unknown", kSystemServer, kWow64Server,
                        "C:\\Windows\\System32", kSysWow64, kSysWow64,
                        RedirectionCase::kSystemFolderUnknown, false},
        RedirectionCase{"WOW64: a folder made a link to the 32-bit system folder",
                        "C:\\Vendor\\Subfolder\\filter.ax", kWow64Server, "C:\\Vendor\\Subfolder",
                        kSysWow64, kSysWow64, RedirectionCase::kAll, false},
        RedirectionCase{"WOW64: system folder filling the buffer", kSystemServer, kWow64Server,
                        "C:\\Windows\\System32", kSysWow64, kSysWow64,
                        RedirectionCase::kSystemFolderFillingTheBuffer, false},
        RedirectionCase{"WOW64: system folder past the buffer", kSystemServer, kWow64Server,
                        "C:\\Windows\\System32", kSysWow64, kSysWow64,
                        RedirectionCase::kSystemFolderPastTheBuffer, false},
        RedirectionCase{"WOW64: 32-bit system folder filling the buffer", kSystemServer,
                        kWow64Server, "C:\\Windows\\System32", kSysWow64, kSysWow64,
                        RedirectionCase::kWow64FolderFillingTheBuffer, false},
        RedirectionCase{"WOW64: 32-bit system folder past the buffer", kSystemServer, kWow64Server,
                        "C:\\Windows\\System32", kSysWow64, kSysWow64,
                        RedirectionCase::kWow64FolderPastTheBuffer, false},
        RedirectionCase{"full path unknown", kVendorServer, kVendorServer, "", "", "",
                        RedirectionCase::kFullPathFails, false},
        // The current folder, C:\, makes the full form 260 characters long.
        RedirectionCase{"relative path whose full form does not fit", std::string(257, 'r'),
                        "C:\\" + std::string(257, 'r'), "", "", "", RedirectionCase::kAll, false},
        RedirectionCase{"final path unknown", kVendorServer, kVendorServer, "", "", "",
                        RedirectionCase::kFinalPathFails, false},
        RedirectionCase{"led to a final path past the buffer", kLongServer, kLongVictim,
                        kLongFolder, kLongTarget, "", RedirectionCase::kAll, false},
        RedirectionCase{"Windows XP: the link is followed", kVendorServer, kVictim,
                        "C:\\Vendor\\Sub", "C:\\Victim", "",
                        RedirectionCase::kWithoutHandleDeletion, true},
        RedirectionCase{"Windows XP: plain path", kVendorServer, kVendorServer, "", "", "",
                        RedirectionCase::kWithoutHandleDeletion, true},
        RedirectionCase{"without the guard", kVendorServer, kVendorServer, "", "", "",
                        RedirectionCase::kWithoutGuard, true},
        RedirectionCase{"guard refused", kVendorServer, kVictim, "C:\\Vendor\\Sub", "C:\\Victim",
                        "", RedirectionCase::kGuardRefused, false},
        RedirectionCase{"WOW64: system folder", kSystemServer, kWow64Server,
                        "C:\\Windows\\System32", kSysWow64, kSysWow64, RedirectionCase::kAll, true},
        RedirectionCase{"WOW64: system folder in other case", "c:\\windows\\system32\\FILTER.AX",
                        kWow64Server, "C:\\Windows\\System32", kSysWow64, kSysWow64,
                        RedirectionCase::kAll, true},
        RedirectionCase{"WOW64: system folder led elsewhere", kSystemServer,
                        "C:\\Elsewhere\\Folder\\filter.ax", "C:\\Windows\\System32",
                        "C:\\Elsewhere\\Folder", kSysWow64, RedirectionCase::kAll, false},
        RedirectionCase{"WOW64: a folder beside the system folder",
                        "C:\\Windows\\System32x\\filter.ax", "C:\\Windows\\SysWOW64x\\filter.ax",
                        "C:\\Windows\\System32x", "C:\\Windows\\SysWOW64x", kSysWow64,
                        RedirectionCase::kAll, false},
        RedirectionCase{"WOW64 without its folder function", kSystemServer, kWow64Server,
                        "C:\\Windows\\System32", kSysWow64, kSysWow64,
                        RedirectionCase::kWithoutWow64Directory, false},
        RedirectionCase{"32-bit system: system folder made a link", kSystemServer, kWow64Server,
                        "C:\\Windows\\System32", kSysWow64, "", RedirectionCase::kAll, false}));

// A class-manager name whose instance path "CLSID\<name>\Instance" is 258
// to 265 characters long, among keys named like the filter elsewhere: below
// the class root itself, below a key named like the manager directly below
// the root, and below the manager itself. Only the instance entry of a path
// that fits may go; the decoys always stay.
class ManagerNameLengthTest : public HostRemovalTest,
                              public ::testing::WithParamInterface<size_t> {};

TEST_P(ManagerNameLengthTest, UsesTheInstancePathOnlyWhenItFitsAndNothingElse) {
  size_t nameLength = GetParam() - 15;  // "CLSID\" and "\Instance"
  std::string name(nameLength, '0');
  std::string entry = ClassPath(name) + "\\Instance\\" + TargetFilterClsid;
  standin::SetString(ClassPath(name), "", ClassManagerName);
  standin::SetString(entry, "F", "x");
  const std::string decoys[] = {TargetFilterClsid, name + "\\" + TargetFilterClsid,
                                name + "\\Instance\\" + TargetFilterClsid,
                                ClassPath(name) + "\\" + TargetFilterClsid};
  for (const std::string& decoy : decoys) standin::SetString(decoy, "", "not a target");
  std::string server = RegisterWholeFilter();

  RunRemoval();

  EXPECT_EQ(GetParam() < MAX_PATH, !standin::KeyExists(entry));
  EXPECT_TRUE(standin::KeyExists(ClassPath(name) + "\\Instance"));
  for (const std::string& decoy : decoys) EXPECT_TRUE(standin::KeyExists(decoy)) << decoy;
  EXPECT_FALSE(standin::KeyExists(ClassPath(TargetFilterClsid)));
  EXPECT_FALSE(FileExists(server));
}

INSTANTIATE_TEST_SUITE_P(Boundary, ManagerNameLengthTest,
                         ::testing::Values(258, 259, 260, 261, 265, 274));

// Class keys before the manager whose names are 258 to 261 characters long
// (more than a real registry takes), beside default values that fill the
// buffer and pass it by one byte: a name that fits is passed over, a longer
// one ends the lookup without a match.
class ClassNameLengthTest : public HostRemovalTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ClassNameLengthTest, ANameOf260OrMoreEndsTheLookup) {
  standin::SetString("CLSID\\0first", "", std::string(259, 'v'));
  standin::SetString("CLSID\\0second", "", std::string(260, 'v'));
  standin::SetString("CLSID\\" + std::string(GetParam(), 'A'), "", std::string(259, 'w'));
  RegisterManager();
  std::string server = RegisterWholeFilter();
  auto before = Snapshot();

  RunRemoval();

  EXPECT_EQ(ExpectedAfter(before, GetParam() < MAX_PATH), Snapshot());
  EXPECT_FALSE(FileExists(server));
}

INSTANTIATE_TEST_SUITE_P(Boundary, ClassNameLengthTest, ::testing::Values(258, 259, 260, 261));

}  // namespace
