// Whole runs on the stand-in where the platform misbehaves or the registry
// holds what a real one would not: injected failures, a missing long-path
// function, names and paths past the buffers. Each run must end, close
// every handle it opened exactly once and touch nothing but its targets.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "helpers/sample_filter.h"
#include "platform/host/standin_control.h"
#include "removal/removal_run.h"
#include "support/host/standin_fixture.h"
#include "support/removal_fixture.h"
#include "support/test_files.h"
#include "support/test_registry.h"

namespace {

using test_support::FileExists;
using test_support::KeyExists;

// Windows XP: kernel32 without the final path and the file information by
// handle; the handle's name comes from ntdll's NtQueryObject, and the file
// goes through NtSetInformationFile.
void AsOnWindowsXp() {
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
       AsOnWindowsXp();
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
       AsOnWindowsXp();
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

TEST_F(HostRemovalTest, ClassRootProtectedOnceTheRunHoldsItDeletesOnlyBelowIt) {
  RegisterManager();
  std::string server = RegisterWholeFilter();
  // A key named like the filter's class identifier directly below the
  // machine's classes: not the target, and it must survive.
  standin::SetString(TargetFilterClsid, "", "decoy");
  // The class root may no longer be changed once the server file was
  // handled: the run deletes through the handle it holds, below the root.
  standin::SetCallHook([](standin::Call call) {
    if (call == standin::Call::SetFileInformationByHandle) standin::DenyAccess("CLSID", KEY_READ);
  });
  auto before = Snapshot();
  RunRemoval();
  standin::SetCallHook(nullptr);
  EXPECT_TRUE(standin::KeyExists(TargetFilterClsid));
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_FALSE(FileExists(server));
}

// A class key that may not be opened with full access stays with its file,
// even where its own protection would let it be deleted.
TEST_F(HostRemovalTest, ClassKeyRefusingFullAccessStaysThoughItMayBeDeleted) {
  RegisterManager();
  std::string server = RegisterWholeFilter();
  const std::string classKey = ClassPath(TargetFilterClsid);
  standin::RemoveKey(classKey);
  standin::SetString(classKey, "", "Sample Filter");
  standin::DenyAccess(classKey, KEY_READ | DELETE);
  RunRemoval();
  EXPECT_TRUE(standin::KeyExists(classKey));
  EXPECT_TRUE(FileExists(server));
  EXPECT_FALSE(standin::KeyExists(InstanceEntryPath()));
}

TEST_F(HostRemovalTest, ManagerNameOfTheLongestLengthIsUsedWhole) {
  // The instance entry is opened through the manager's own handle: no path
  // is composed from its name.
  std::string name = std::string(255, '0');
  standin::SetString(ClassPath(name), "", ClassManagerName);
  standin::SetString(ClassPath(name) + "\\Instance\\" + TargetFilterClsid, "F", "x");
  std::string server = RegisterWholeFilter();
  RunRemoval();
  EXPECT_FALSE(standin::KeyExists(ClassPath(name) + "\\Instance\\" + TargetFilterClsid));
  EXPECT_TRUE(standin::KeyExists(ClassPath(name) + "\\Instance"));
  EXPECT_FALSE(FileExists(server));
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

// The running user's own classes beside the machine's. Each tree is decided
// by its own keys: the machine's registration goes whatever the user's
// holds (decoys, copies that refuse him, links, a class root that is a
// link), the user's own goes in the same run, and only the machine's names
// a file to delete, behind the machine's own gates: any program the user
// runs can write his classes. A second run changes nothing.
struct UserClassCase {
  const char* label;
  bool machine;  // the machine's whole registration, naming the filter's file
  enum {
    kNone,
    kClassKey,          // a copy of the class key with sub-keys, naming a system file
    kSameFile,          // the same, naming the filter's file
    kBareClassKey,      // a copy of the class key without sub-keys
    kRefusingClassKey,  // a copy with sub-keys that refuses the user
    kRefusingEntry,     // a copy of the instance entry that refuses the user
    kDecoyManager,      // a manager of his own, sorted first, with an entry
    kManagerCopy,       // a copy of the machine's manager, another default value, an entry
    kLinkToUserKey,     // a copy of the class key holding a link to another key of his
    kLinkToMachineKey,  // the same, the link to the machine's manager
    kClassRootLink,     // his "CLSID" a link to the machine's "Other"
  } user;
  enum { kOpen, kServerReadable, kClassKeyReadable, kRootReadable } protection;
  bool fileGoes;
  std::vector<std::string> userGone;  // below the user's "CLSID"
  std::vector<std::string> userLeft;
};

class UserClassTest : public HostRemovalTest, public ::testing::WithParamInterface<UserClassCase> {
 protected:
  // A whole registration of the filter, and a class manager with an entry
  // for it, in the machine's "Other", outside the class root: where the
  // user's links lead. Nothing may change there.
  void RegisterOutsideTheClassRoot(const std::string& system) {
    standin::SetString("Other\\{00000000-0000-0000-0000-000000000001}", "", ClassManagerName);
    standin::SetString("Other\\{00000000-0000-0000-0000-000000000001}\\Instance\\" +
                           std::string(TargetFilterClsid),
                       "FriendlyName", "Sample Filter");
    standin::SetString("Other\\" + std::string(TargetFilterClsid) + "\\InprocServer32", "", system);
  }
  // The lines of the machine's "Other" as the stand-in dumps them.
  static std::string OutsideTheClassRoot() {
    std::string dump = standin::Dump();
    return dump.substr(dump.find("\nOther\n"));
  }
};

TEST_P(UserClassTest, EachTreeIsDecidedByItsOwnKeys) {
  const UserClassCase& c = GetParam();
  const std::string classKey = ClassPath(TargetFilterClsid);
  const std::string server = classKey + "\\InprocServer32";
  const std::string entry = InstanceEntryPath();
  const std::string decoy = ClassPath("{00000000-0000-0000-0000-000000000000}");
  const std::string machineNt = std::string(standin::kClassesRootNtPath);
  RegisterManager(ClassManagerName);
  std::string file = test_support::CreateTestFile(directory_, "Sample Filter Server.dll");
  std::string system = test_support::CreateTestFile(directory_, "system32.dll");
  RegisterOutsideTheClassRoot(system);
  if (c.machine) {
    RegisterInstanceEntry();
    RegisterClassKey();
    RegisterServer(REG_SZ, file + '\0');
  }
  switch (c.user) {
    case UserClassCase::kNone:
      break;
    case UserClassCase::kClassKey:
    case UserClassCase::kSameFile:
    case UserClassCase::kRefusingClassKey:
      standin::SetUserString(classKey, "", "Sample Filter");
      standin::SetUserString(classKey + "\\Settings", "Mode", "user");
      standin::SetUserString(server, "", c.user == UserClassCase::kSameFile ? file : system);
      if (c.user == UserClassCase::kRefusingClassKey) standin::DenyUserAccess(classKey, KEY_READ);
      break;
    case UserClassCase::kBareClassKey:
      standin::SetUserString(classKey, "", "Sample Filter");
      break;
    case UserClassCase::kRefusingEntry:
      standin::SetUserString(entry + "\\Pins", "", "user");
      standin::DenyUserAccess(entry, KEY_READ);
      break;
    case UserClassCase::kDecoyManager:
      standin::SetUserString(decoy, "", ClassManagerName);
      standin::SetUserString(decoy + "\\Instance\\" + TargetFilterClsid, "", "decoy's");
      break;
    case UserClassCase::kManagerCopy:
      standin::SetUserString(ClassPath(manager_), "", "Not the manager");
      standin::SetUserString(entry, "", "copy's");
      break;
    case UserClassCase::kLinkToUserKey:
      standin::SetUserString(classKey, "", "Sample Filter");
      standin::SetUserString(ClassPath(helpers::kOtherFilterClsid) + "\\Keep", "", "kept");
      standin::CreateUserLink(classKey + "\\Link", std::string(standin::kUserClassesNtPath) + "\\" +
                                                       ClassPath(helpers::kOtherFilterClsid));
      break;
    case UserClassCase::kLinkToMachineKey:
      standin::SetUserString(classKey, "", "Sample Filter");
      standin::CreateUserLink(classKey + "\\Link", machineNt + "\\" + ClassPath(manager_));
      break;
    case UserClassCase::kClassRootLink:
      standin::CreateUserLink("CLSID", machineNt + "\\Other");
      break;
  }
  if (c.protection == UserClassCase::kServerReadable) standin::DenyAccess(server, KEY_READ);
  if (c.protection == UserClassCase::kClassKeyReadable) standin::DenyAccess(classKey, KEY_READ);
  if (c.protection == UserClassCase::kRootReadable) standin::DenyAccess("CLSID", KEY_READ);
  auto before = Snapshot();
  std::string other = OutsideTheClassRoot();
  std::string userBefore = standin::DumpUser();

  RunRemoval();

  bool machineGoes = c.machine && c.protection != UserClassCase::kRootReadable;
  EXPECT_EQ(c.fileGoes, !FileExists(file)) << c.label;
  EXPECT_TRUE(FileExists(system)) << c.label;
  EXPECT_TRUE(FileExists(neighbour_)) << c.label;
  EXPECT_EQ(std::vector<std::string>(c.fileGoes ? 1 : 0, file), standin::DeleteFileNames())
      << c.label;
  EXPECT_EQ(other, OutsideTheClassRoot()) << c.label;
  if (c.machine) {
    EXPECT_NE(machineGoes, standin::KeyExists(entry)) << c.label;
  }
  if (c.protection == UserClassCase::kOpen) {
    EXPECT_EQ(ExpectedAfter(before, c.machine), Snapshot()) << c.label;
  }
  if (c.protection == UserClassCase::kRootReadable) {
    EXPECT_EQ(before, Snapshot()) << c.label;
    EXPECT_EQ(userBefore, standin::DumpUser()) << c.label;
  }
  // A protected key in the machine's registration keeps its server key.
  EXPECT_EQ(c.machine && c.protection != UserClassCase::kOpen, standin::KeyExists(server))
      << c.label;
  // "<manager>" stands for this test's class manager.
  auto userKey = [this](std::string key) {
    size_t at = key.find("<manager>");
    if (at != std::string::npos) key.replace(at, 9, manager_);
    return ClassPath(key);
  };
  for (const std::string& key : c.userGone)
    EXPECT_FALSE(standin::UserKeyExists(userKey(key))) << c.label << ": " << key;
  for (const std::string& key : c.userLeft)
    EXPECT_TRUE(standin::UserKeyExists(userKey(key))) << c.label << ": " << key;

  std::string machineAfter = standin::Dump();
  std::string userAfter = standin::DumpUser();
  std::vector<std::string> filesAfter = standin::Files();
  RunRemoval();
  EXPECT_EQ(machineAfter, standin::Dump()) << c.label << ", second run";
  EXPECT_EQ(userAfter, standin::DumpUser()) << c.label << ", second run";
  EXPECT_EQ(filesAfter, standin::Files()) << c.label << ", second run";
}

const std::string kUserTarget = TargetFilterClsid;
const std::string kDecoyEntry = "{00000000-0000-0000-0000-000000000000}\\Instance\\" + kUserTarget;

INSTANTIATE_TEST_SUITE_P(
    Registrations, UserClassTest,
    ::testing::Values(
        UserClassCase{"user's copy names a system file",
                      true,
                      UserClassCase::kClassKey,
                      UserClassCase::kOpen,
                      true,
                      {kUserTarget},
                      {}},
        UserClassCase{"user's copy names a system file, machine's server readable",
                      true,
                      UserClassCase::kClassKey,
                      UserClassCase::kServerReadable,
                      false,
                      {kUserTarget},
                      {}},
        UserClassCase{"user's copy names a system file, machine's class key readable",
                      true,
                      UserClassCase::kClassKey,
                      UserClassCase::kClassKeyReadable,
                      false,
                      {kUserTarget},
                      {}},
        UserClassCase{"both name the filter's file",
                      true,
                      UserClassCase::kSameFile,
                      UserClassCase::kOpen,
                      true,
                      {kUserTarget},
                      {}},
        UserClassCase{"user's copy without sub-keys",
                      true,
                      UserClassCase::kBareClassKey,
                      UserClassCase::kOpen,
                      true,
                      {kUserTarget},
                      {}},
        UserClassCase{"user's copy of the class key refuses him",
                      true,
                      UserClassCase::kRefusingClassKey,
                      UserClassCase::kOpen,
                      true,
                      {},
                      {kUserTarget + "\\Settings"}},
        UserClassCase{"user's copy of the instance entry refuses him",
                      true,
                      UserClassCase::kRefusingEntry,
                      UserClassCase::kOpen,
                      true,
                      {},
                      {"<manager>\\Instance\\" + kUserTarget + "\\Pins"}},
        UserClassCase{"user's decoy manager sorted first",
                      true,
                      UserClassCase::kDecoyManager,
                      UserClassCase::kOpen,
                      true,
                      {kDecoyEntry},
                      {"{00000000-0000-0000-0000-000000000000}\\Instance"}},
        UserClassCase{"user's copy of the manager with another default value",
                      true,
                      UserClassCase::kManagerCopy,
                      UserClassCase::kOpen,
                      true,
                      {},
                      {"<manager>\\Instance\\" + kUserTarget}},
        UserClassCase{"user's copy holds a link to another key of his",
                      true,
                      UserClassCase::kLinkToUserKey,
                      UserClassCase::kOpen,
                      true,
                      {kUserTarget},
                      {std::string(helpers::kOtherFilterClsid) + "\\Keep"}},
        UserClassCase{"user's copy holds a link to the machine's manager",
                      true,
                      UserClassCase::kLinkToMachineKey,
                      UserClassCase::kOpen,
                      true,
                      {kUserTarget},
                      {}},
        UserClassCase{"user's class root a link to the machine's keys",
                      true,
                      UserClassCase::kClassRootLink,
                      UserClassCase::kOpen,
                      true,
                      {},
                      {}},
        UserClassCase{"user's only",
                      false,
                      UserClassCase::kClassKey,
                      UserClassCase::kOpen,
                      false,
                      {kUserTarget},
                      {}},
        UserClassCase{"user's decoy manager only",
                      false,
                      UserClassCase::kDecoyManager,
                      UserClassCase::kOpen,
                      false,
                      {kDecoyEntry},
                      {"{00000000-0000-0000-0000-000000000000}\\Instance"}},
        UserClassCase{
            "machine's only", true, UserClassCase::kNone, UserClassCase::kOpen, true, {}, {}},
        UserClassCase{"the machine's class root may not be changed",
                      true,
                      UserClassCase::kClassKey,
                      UserClassCase::kRootReadable,
                      false,
                      {},
                      {kUserTarget + "\\Settings"}}));

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
  bool finalPath = true;  // false: Windows XP, the name on the device
};

class ServerPathLengthTest : public HostRemovalTest,
                             public ::testing::WithParamInterface<ServerPathCase> {};

TEST_P(ServerPathLengthTest, DeletesOnlyAPathThatFitsAndPrefersTheLongForm) {
  const ServerPathCase& c = GetParam();
  standin::SetLongPathFunctionPresent(c.longPathFunction);
  if (!c.finalPath) AsOnWindowsXp();
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
        // Opened by its short form, which its name on the device keeps.
        ServerPathCase{"XP, long form 260", 0, 260, true, ServerPathCase::kByStoredName, false}));

// The server file where a folder of its registered path leads elsewhere: a
// junction or link that a user put there, or WOW64's own redirection of
// the system folder for a 32-bit process. Only the file the registration
// names, or the one WOW64 puts in its place, may go; the redirection guard
// is asked for once in every run where the system has it. Every row runs
// twice: checked by the final path (Vista and later) and by the name on
// the device (Windows XP).
struct RedirectionCase {
  const char* label;
  std::string registered;    // the server path as registered
  std::string file;          // where the file of that name lies
  std::string linkedFolder;  // a folder made a link to `target` (or none)
  std::string target;
  std::string wow64;  // the 32-bit system folder, empty on a 32-bit system
  enum {
    kAll,
    kWithoutHandleChecks,  // neither the final path nor the name on the device
    kWithoutWow64Directory,
    kWithoutGuard,
    kGuardRefused,
    kHandlePathFails,  // the final path, or the name on the device
    kFullPathFails,
    kSystemFolderUnknown,
    kSystemFolderFillingTheBuffer,  // 259 characters
    kSystemFolderPastTheBuffer,     // 260 characters
    kWow64FolderFillingTheBuffer,
    kWow64FolderPastTheBuffer,
    kDriveUnknown,            // QueryDosDeviceA knows no "C:"
    kDriveQueryFails,         // QueryDosDeviceA fails all the same
    kDeviceFillingTheBuffer,  // a device name of 258 characters
    kDevicePastTheBuffer,     // 259
    kNameConversionFails,     // WideCharToMultiByte
    kFileInUse,               // held open without delete sharing
    kFileReadOnly,            // or a loaded module
  } system;
  enum { kStays, kGoes, kGoesWithFinalPathOnly } outcome;
};

class RedirectionTest : public HostRemovalTest,
                        public ::testing::WithParamInterface<std::tuple<RedirectionCase, bool>> {};

TEST_P(RedirectionTest, DeletesOnlyTheFileTheRegistrationNames) {
  const RedirectionCase& c = std::get<0>(GetParam());
  const bool xp = std::get<1>(GetParam());
  const std::string label = std::string(c.label) + (xp ? " (Windows XP)" : "");
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
  standin::SetDriveDevice("D:", "\\Device\\HarddiskVolume2");
  if (xp) AsOnWindowsXp();
  if (c.system == RedirectionCase::kWithoutHandleChecks) {
    AsOnWindowsXp();
    standin::SetNtdllFunctionPresent("NtQueryObject", false);
  }
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
  if (c.system == RedirectionCase::kHandlePathFails) {
    standin::FailCall(standin::Call::GetFinalPathNameByHandleA, 1, ERROR_NOT_ENOUGH_MEMORY);
    standin::FailCall(standin::Call::NtQueryObject, 1,
                      static_cast<DWORD>(STATUS_INFO_LENGTH_MISMATCH));
  }
  if (c.system == RedirectionCase::kDriveUnknown) standin::SetDriveDevice("C:", "");
  if (c.system == RedirectionCase::kDriveQueryFails)
    standin::FailCall(standin::Call::QueryDosDeviceA, 1, ERROR_NOT_ENOUGH_MEMORY);
  if (c.system == RedirectionCase::kDeviceFillingTheBuffer)
    standin::SetDriveDevice("C:", "\\Device\\" + std::string(250, 'v'));
  if (c.system == RedirectionCase::kDevicePastTheBuffer)
    standin::SetDriveDevice("C:", "\\Device\\" + std::string(251, 'v'));
  if (c.system == RedirectionCase::kNameConversionFails)
    standin::FailCall(standin::Call::WideCharToMultiByte, 1, ERROR_INSUFFICIENT_BUFFER);
  if (c.system == RedirectionCase::kFileInUse) standin::LockFile(c.file, ERROR_SHARING_VIOLATION);
  if (c.system == RedirectionCase::kFileReadOnly) standin::LockFile(c.file, ERROR_ACCESS_DENIED);
  RegisterServer(REG_SZ, c.registered + '\0');
  auto before = Snapshot();

  RunRemoval();

  EXPECT_EQ(ExpectedAfter(before), Snapshot()) << label;
  bool goes = c.outcome == RedirectionCase::kGoes ||
              (c.outcome == RedirectionCase::kGoesWithFinalPathOnly && !xp);
  EXPECT_EQ(goes, !standin::FileExists(c.file)) << label;
  EXPECT_TRUE(FileExists(neighbour_)) << label;
  // Never by name, and at most one open, none without a way to check it.
  EXPECT_EQ(0u, standin::CallCount(standin::Call::DeleteFileA)) << label;
  EXPECT_GE(c.system == RedirectionCase::kWithoutHandleChecks ? 0u : 1u,
            standin::CallCount(standin::Call::CreateFileA))
      << label;
  // Each system's own calls, never the other's.
  EXPECT_EQ(0u, standin::CallCount(xp ? standin::Call::GetFinalPathNameByHandleA
                                      : standin::Call::NtQueryObject))
      << label;
  EXPECT_EQ(0u, standin::CallCount(xp ? standin::Call::SetFileInformationByHandle
                                      : standin::Call::NtSetInformationFile))
      << label;
  std::vector<std::pair<DWORD, DWORD>> policies;
  if (c.system != RedirectionCase::kWithoutGuard && c.system != RedirectionCase::kGuardRefused)
    policies.emplace_back(16, 1);  // ProcessRedirectionTrustPolicy, EnforceRedirectionTrust
  EXPECT_EQ(policies, standin::MitigationPolicies()) << label;
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
// A folder that leads to one whose name on the device takes 520
// characters, one more than the run's buffer for it holds with its
// terminator.
const std::string kDeepTarget = "C:\\" + std::string(340, 't');
const std::string kDeepVictim = kDeepTarget + "\\" + std::string(155, 's');
// "C:\Vendor\Lab" made a link to "C:\Vendor\Lāb" (U+0101, in UTF-8): the
// code page lacks the character, and its best fit is "a".
const char kBestFitFolder[] =
    "C:\\Vendor\\L\xC4\x81"
    "b";

const RedirectionCase kFolderCases[] = {
    {"plain path", kVendorServer, kVendorServer, "", "", "", RedirectionCase::kAll,
     RedirectionCase::kGoes},
    {"folder made a link", kVendorServer, kVictim, "C:\\Vendor\\Sub", "C:\\Victim", "",
     RedirectionCase::kAll, RedirectionCase::kStays},
    {"upper folder made a link", kVendorServer, "C:\\Victim\\Sub\\filter.ax", "C:\\Vendor",
     "C:\\Victim", "", RedirectionCase::kAll, RedirectionCase::kStays},
    // The device of drive D: has a name as long as that of C:.
    {"folder made a link to the same path on another drive", kVendorServer,
     "D:\\Vendor\\Sub\\filter.ax", "C:\\Vendor", "D:\\Vendor", "", RedirectionCase::kAll,
     RedirectionCase::kStays},
    {"the file itself a link", kVendorServer, "C:\\Victim\\filter.ax", kVendorServer, "C:\\Victim",
     "", RedirectionCase::kAll, RedirectionCase::kStays},
    {"folder made a link to a name beyond the code page", "C:\\Vendor\\Lab\\filter.ax",
     std::string(kBestFitFolder) + "\\filter.ax", "C:\\Vendor\\Lab", kBestFitFolder, "",
     RedirectionCase::kAll, RedirectionCase::kStays},
    // Its final path is "\\?\UNC\server\share\filter.ax"; no drive
    // letter leads to its device.
    {"UNC path", "\\\\server\\share\\filter.ax", "\\\\server\\share\\filter.ax", "", "", "",
     RedirectionCase::kAll, RedirectionCase::kStays},
    {"dots in the path", "C:/Vendor/Sub/../Sub/./filter.ax.", kVendorServer, "", "", "",
     RedirectionCase::kAll, RedirectionCase::kGoes},
    {"drive letter in lower case", "c:\\Vendor\\Sub\\filter.ax", kVendorServer, "", "", "",
     RedirectionCase::kAll, RedirectionCase::kGoes},
    // The separator after the folder stands where the system folder's
    // path ends.
    {"WOW64: folder as long as the system folder made a link", "C:\\Vendor\\Subfolder\\filter.ax",
     kVictim, "C:\\Vendor\\Subfolder", "C:\\Victim", kSysWow64, RedirectionCase::kAll,
     RedirectionCase::kStays},
    {"WOW64: system folder unknown", kSystemServer, kWow64Server, "C:\\Windows\\System32",
     kSysWow64, kSysWow64, RedirectionCase::kSystemFolderUnknown, RedirectionCase::kStays},
    {"WOW64: a folder made a link to the 32-bit system folder", "C:\\Vendor\\Subfolder\\filter.ax",
     kWow64Server, "C:\\Vendor\\Subfolder", kSysWow64, kSysWow64, RedirectionCase::kAll,
     RedirectionCase::kStays},
    {"WOW64: system folder filling the buffer", kSystemServer, kWow64Server,
     "C:\\Windows\\System32", kSysWow64, kSysWow64, RedirectionCase::kSystemFolderFillingTheBuffer,
     RedirectionCase::kStays},
    {"WOW64: system folder past the buffer", kSystemServer, kWow64Server, "C:\\Windows\\System32",
     kSysWow64, kSysWow64, RedirectionCase::kSystemFolderPastTheBuffer, RedirectionCase::kStays},
    {"WOW64: 32-bit system folder filling the buffer", kSystemServer, kWow64Server,
     "C:\\Windows\\System32", kSysWow64, kSysWow64, RedirectionCase::kWow64FolderFillingTheBuffer,
     RedirectionCase::kStays},
    {"WOW64: 32-bit system folder past the buffer", kSystemServer, kWow64Server,
     "C:\\Windows\\System32", kSysWow64, kSysWow64, RedirectionCase::kWow64FolderPastTheBuffer,
     RedirectionCase::kStays},
    {"full path unknown", kVendorServer, kVendorServer, "", "", "", RedirectionCase::kFullPathFails,
     RedirectionCase::kStays},
    // The current folder, C:\, makes the full form 260 characters long.
    {"relative path whose full form does not fit", std::string(257, 'r'),
     "C:\\" + std::string(257, 'r'), "", "", "", RedirectionCase::kAll, RedirectionCase::kStays},
    // A path that is not fully qualified names no file: the run's own
    // folder (C:\\ here) would complete it.
    {"a bare name", "filter.ax", "C:\\filter.ax", "", "", "", RedirectionCase::kAll,
     RedirectionCase::kStays},
    {"a name below the current folder", ".\\filter.ax", "C:\\filter.ax", "", "", "",
     RedirectionCase::kAll, RedirectionCase::kStays},
    {"a drive's current folder", "C:filter.ax", "C:\\filter.ax", "", "", "", RedirectionCase::kAll,
     RedirectionCase::kStays},
    {"rooted on the current drive", "\\Vendor\\Sub\\filter.ax", kVendorServer, "", "", "",
     RedirectionCase::kAll, RedirectionCase::kStays},
    // A drive letter is A to Z in either case; on Windows XP only a drive
    // with a device (C: here) passes the check.
    {"drive a:", "a:\\Vendor\\filter.ax", "A:\\Vendor\\filter.ax", "", "", "",
     RedirectionCase::kAll, RedirectionCase::kGoesWithFinalPathOnly},
    {"drive Z:", "Z:\\Vendor\\filter.ax", "Z:\\Vendor\\filter.ax", "", "", "",
     RedirectionCase::kAll, RedirectionCase::kGoesWithFinalPathOnly},
    {"no drive @:", "@:\\Vendor\\filter.ax", "@:\\Vendor\\filter.ax", "", "", "",
     RedirectionCase::kAll, RedirectionCase::kStays},
    {"no drive {:", "{:\\Vendor\\filter.ax", "{:\\Vendor\\filter.ax", "", "", "",
     RedirectionCase::kAll, RedirectionCase::kStays},
    {"path of the handle unknown", kVendorServer, kVendorServer, "", "", "",
     RedirectionCase::kHandlePathFails, RedirectionCase::kStays},
    {"led to a final path past the buffer", kLongServer, kLongVictim, kLongFolder, kLongTarget, "",
     RedirectionCase::kAll, RedirectionCase::kStays},
    {"led to a name on the device past the buffer", kLongServer, kDeepVictim, kLongFolder,
     kDeepTarget, "", RedirectionCase::kAll, RedirectionCase::kStays},
    {"without either check", kVendorServer, kVendorServer, "", "", "",
     RedirectionCase::kWithoutHandleChecks, RedirectionCase::kStays},
    {"without the guard", kVendorServer, kVendorServer, "", "", "", RedirectionCase::kWithoutGuard,
     RedirectionCase::kGoes},
    {"guard refused", kVendorServer, kVictim, "C:\\Vendor\\Sub", "C:\\Victim", "",
     RedirectionCase::kGuardRefused, RedirectionCase::kStays},
    {"file in use", kVendorServer, kVendorServer, "", "", "", RedirectionCase::kFileInUse,
     RedirectionCase::kStays},
    {"read-only file", kVendorServer, kVendorServer, "", "", "", RedirectionCase::kFileReadOnly,
     RedirectionCase::kStays},
    {"drive without a device", kVendorServer, kVendorServer, "", "", "",
     RedirectionCase::kDriveUnknown, RedirectionCase::kGoesWithFinalPathOnly},
    {"device of the drive unknown", kVendorServer, kVendorServer, "", "", "",
     RedirectionCase::kDriveQueryFails, RedirectionCase::kGoesWithFinalPathOnly},
    {"device name filling the buffer", kVendorServer, kVendorServer, "", "", "",
     RedirectionCase::kDeviceFillingTheBuffer, RedirectionCase::kGoes},
    {"device name past the buffer", kVendorServer, kVendorServer, "", "", "",
     RedirectionCase::kDevicePastTheBuffer, RedirectionCase::kGoesWithFinalPathOnly},
    {"name on the device not converted", kVendorServer, kVendorServer, "", "", "",
     RedirectionCase::kNameConversionFails, RedirectionCase::kGoesWithFinalPathOnly},
    {"WOW64: system folder", kSystemServer, kWow64Server, "C:\\Windows\\System32", kSysWow64,
     kSysWow64, RedirectionCase::kAll, RedirectionCase::kGoes},
    {"WOW64: system folder in other case", "c:\\windows\\system32\\FILTER.AX", kWow64Server,
     "C:\\Windows\\System32", kSysWow64, kSysWow64, RedirectionCase::kAll, RedirectionCase::kGoes},
    {"WOW64: system folder led elsewhere", kSystemServer, "C:\\Elsewhere\\Folder\\filter.ax",
     "C:\\Windows\\System32", "C:\\Elsewhere\\Folder", kSysWow64, RedirectionCase::kAll,
     RedirectionCase::kStays},
    {"WOW64: a folder beside the system folder", "C:\\Windows\\System32x\\filter.ax",
     "C:\\Windows\\SysWOW64x\\filter.ax", "C:\\Windows\\System32x", "C:\\Windows\\SysWOW64x",
     kSysWow64, RedirectionCase::kAll, RedirectionCase::kStays},
    {"WOW64 without its folder function", kSystemServer, kWow64Server, "C:\\Windows\\System32",
     kSysWow64, kSysWow64, RedirectionCase::kWithoutWow64Directory, RedirectionCase::kStays},
    {"32-bit system: system folder made a link", kSystemServer, kWow64Server,
     "C:\\Windows\\System32", kSysWow64, "", RedirectionCase::kAll, RedirectionCase::kStays},
};

INSTANTIATE_TEST_SUITE_P(Folders, RedirectionTest,
                         ::testing::Combine(::testing::ValuesIn(kFolderCases), ::testing::Bool()));

// A class-manager name whose path "CLSID\<name>\Instance" would be 258 to
// 274 characters long, among keys named like the filter elsewhere: below
// the class root itself, below a key named like the manager directly below
// the root, and below the manager itself. The instance entry goes whatever
// the name's length; the decoys always stay.
class ManagerNameLengthTest : public HostRemovalTest,
                              public ::testing::WithParamInterface<size_t> {};

TEST_P(ManagerNameLengthTest, RemovesTheInstanceEntryAndNothingElse) {
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

  EXPECT_FALSE(standin::KeyExists(entry));
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
