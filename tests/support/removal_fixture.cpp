#include "support/removal_fixture.h"

#include "helpers/sample_filter.h"
#include "removal/removal_run.h"
#include "support/test_files.h"
#include "support/test_registry.h"

namespace test_support {

namespace {

// The machine's classes, which the run works on: below HKEY_LOCAL_MACHINE,
// never through HKEY_CLASSES_ROOT, which shows the user's classes over them.
std::string MachineClasses(const std::string& path) { return "Software\\Classes\\" + path; }

}  // namespace

void RemovalFixture::SetUp() {
  // "{00000000-0000-0000-0000-" sorts before every real class identifier.
  manager_ = "{00000000-0000-0000-0000-" + UniqueName("") + "}";
  directory_ = TestDirectory() + "\\" + UniqueName("Sample Filter ");
  neighbour_ = CreateTestFile(directory_, "Neighbour Server.dll");
  DeleteTree(HKEY_LOCAL_MACHINE, MachineClasses(ClassPath(TargetFilterClsid)));
  CreateKey(HKEY_LOCAL_MACHINE, MachineClasses("CLSID"));
}

void RemovalFixture::TearDown() {
  DeleteTree(HKEY_LOCAL_MACHINE, MachineClasses(ClassPath(manager_)));
  DeleteTree(HKEY_LOCAL_MACHINE, MachineClasses(ClassPath(TargetFilterClsid)));
  RemoveTestFile(neighbour_);
}

std::string RemovalFixture::ClassPath(const std::string& name) { return "CLSID\\" + name; }

void RemovalFixture::RegisterManager(const std::string& defaultValue) {
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(ClassPath(manager_)), "", defaultValue);
  std::string other = ClassPath(manager_) + "\\Instance\\" + helpers::kOtherFilterClsid;
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(other), "FriendlyName", "Other Filter");
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(ClassPath(manager_)) + "\\InprocServer32", "",
            "C:\\windows\\system32\\manager.dll");
}

std::string RemovalFixture::InstanceEntryPath() const {
  return ClassPath(manager_) + "\\Instance\\" + TargetFilterClsid;
}

void RemovalFixture::RegisterInstanceEntry() {
  std::string entry = InstanceEntryPath();
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(entry), "FriendlyName", "Sample Filter");
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(entry), "CLSID", TargetFilterClsid);
  SetValue(HKEY_LOCAL_MACHINE, MachineClasses(entry), "FilterData", REG_BINARY,
           std::string(helpers::kFilterData, helpers::kFilterDataSize));
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(entry + "\\Pins\\Output"), "Direction", "out");
}

void RemovalFixture::RegisterClassKey() {
  std::string key = ClassPath(TargetFilterClsid);
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(key), "", "Sample Filter");
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(key), "AppID",
            "{3A7D52C8-0000-0000-0000-000000000000}");
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(key + "\\Level1"), "", "one");
  SetValue(HKEY_LOCAL_MACHINE, MachineClasses(key + "\\Level1"), "Flags", REG_DWORD,
           std::string("\1\0\0\0", 4));
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(key + "\\Level1\\Level2"), "Deep", "two");
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(key + "\\Level1\\Level2\\Level3"), "", "three");
}

void RemovalFixture::RegisterServer(DWORD type, const std::string& bytes) {
  std::string key = ClassPath(TargetFilterClsid) + "\\InprocServer32";
  SetValue(HKEY_LOCAL_MACHINE, MachineClasses(key), "", type, bytes);
  SetString(HKEY_LOCAL_MACHINE, MachineClasses(key), "ThreadingModel", "Both");
}

std::string RemovalFixture::RegisterWholeFilter() {
  RegisterInstanceEntry();
  RegisterClassKey();
  std::string server = CreateTestFile(directory_, "Sample Filter Server.dll");
  RegisterServer(REG_SZ, server + '\0');
  return server;
}

std::vector<std::string> RemovalFixture::Snapshot() const {
  return DumpTree(HKEY_LOCAL_MACHINE, MachineClasses("CLSID"));
}

std::vector<std::string> RemovalFixture::ExpectedAfter(const std::vector<std::string>& before,
                                                       bool instanceEntry) const {
  std::vector<std::string> expected = WithoutKey(before, TargetFilterClsid);
  if (instanceEntry) expected = WithoutKey(expected, manager_ + "\\Instance\\" + TargetFilterClsid);
  return expected;
}

void RemovalFixture::RunScenario(const Scenario& row) {
  RunAndCheck(row.arrange(*this), row.entryGoes, row.fileGoes, row.check, true);
}

void RemovalFixture::RunAndCheck(const std::string& server, bool entryGoes, bool fileGoes,
                                 void (*check)(RemovalFixture& t), bool twice) {
  auto before = Snapshot();
  EXPECT_EQ(0, RunRemoval());
  EXPECT_EQ(ExpectedAfter(before, entryGoes), Snapshot());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, MachineClasses(ClassPath(TargetFilterClsid))));
  if (!server.empty()) {
    EXPECT_EQ(!fileGoes, FileExists(server)) << server;
  }
  EXPECT_TRUE(FileExists(neighbour_));
  if (check) check(*this);
  if (twice) {
    auto after = Snapshot();
    EXPECT_EQ(0, RunRemoval());
    EXPECT_EQ(after, Snapshot()) << "a second run changed the class root";
  }
  if (!server.empty() && !fileGoes) RemoveTestFile(server);
}

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; }

}  // namespace test_support
