// Whole runs: a registry and files before, the run, and the whole class
// root and the files after. Every scenario also proves that nothing beside
// the three targets changed. Runs on both builds (under Wine against the
// prefix's real class root, whose own class manager comes after ours).

#include <gtest/gtest.h>

#include "removal/removal_run.h"
#include "support/removal_fixture.h"
#include "support/test_files.h"
#include "support/test_registry.h"

namespace {

using test_support::CreateTestFile;
using test_support::FileExists;
using test_support::KeyExists;

class RemovalScenarioTest : public test_support::RemovalFixture {};

TEST_F(RemovalScenarioTest, WholeFilterRegistered) {
  RegisterManager(ClassManagerName);
  std::string server = RegisterWholeFilter();
  auto before = Snapshot();

  EXPECT_EQ(0, RunRemoval());

  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ClassPath(TargetFilterClsid)));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, InstanceEntryPath()));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ClassPath(manager_) + "\\Instance"));
  EXPECT_FALSE(FileExists(server));
  EXPECT_TRUE(FileExists(neighbour_));
}

TEST_F(RemovalScenarioTest, ASecondRunChangesNothing) {
  RegisterManager(ClassManagerName);
  RegisterWholeFilter();
  RunRemoval();
  auto after = Snapshot();
  EXPECT_EQ(0, RunRemoval());
  EXPECT_EQ(after, Snapshot());
  EXPECT_TRUE(FileExists(neighbour_));
}

TEST_F(RemovalScenarioTest, ManagerMatchedInOtherLetterCase) {
  RegisterManager("ACTIVEMOVIE filter CLASS manager");
  RegisterWholeFilter();
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
}

TEST_F(RemovalScenarioTest, ManagerWithoutTheFiltersEntry) {
  RegisterManager(ClassManagerName);
  RegisterClassKey();
  std::string server = CreateTestFile(directory_, "Server.dll");
  RegisterServer(REG_SZ, server + '\0');
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before, false), Snapshot());
  EXPECT_FALSE(FileExists(server));
}

TEST_F(RemovalScenarioTest, KeyWithTheManagersNameInOtherWordsIsNotTheManager) {
  // Trailing blank: no match, so its "Instance" key is left alone.
  RegisterManager("ActiveMovie Filter Class Manager ");
  RegisterWholeFilter();
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before, false), Snapshot());
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, InstanceEntryPath()));
}

TEST_F(RemovalScenarioTest, OnlyTheInstanceEntry) {
  RegisterManager(ClassManagerName);
  RegisterInstanceEntry();
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_TRUE(FileExists(neighbour_));
}

TEST_F(RemovalScenarioTest, ClassKeyWithoutServerKey) {
  RegisterManager(ClassManagerName);
  RegisterInstanceEntry();
  RegisterClassKey();
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_TRUE(FileExists(neighbour_));
}

TEST_F(RemovalScenarioTest, ServerPathStoredInShortForm) {
  RegisterManager(ClassManagerName);
  RegisterInstanceEntry();
  RegisterClassKey();
  std::string server = CreateTestFile(directory_, "Long Server Name.dll");
  std::string shortPath = test_support::ShortPathOf(server);
  ASSERT_NE(server, shortPath);
  RegisterServer(REG_SZ, shortPath + '\0');
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_FALSE(FileExists(server));
  EXPECT_TRUE(FileExists(neighbour_));
}

TEST_F(RemovalScenarioTest, ServerFileAlreadyMissing) {
  RegisterManager(ClassManagerName);
  RegisterInstanceEntry();
  RegisterClassKey();
  RegisterServer(REG_SZ, directory_ + "\\Not There.dll" + '\0');
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_TRUE(FileExists(neighbour_));
}

TEST_F(RemovalScenarioTest, ServerPathOfAnotherTypeLeavesTheFile) {
  RegisterManager(ClassManagerName);
  RegisterInstanceEntry();
  RegisterClassKey();
  std::string server = CreateTestFile(directory_, "Expand Server.dll");
  RegisterServer(REG_EXPAND_SZ, server + '\0');
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_TRUE(FileExists(server));
  test_support::RemoveTestFile(server);
}

TEST_F(RemovalScenarioTest, ServerPathWithoutTerminator) {
  RegisterManager(ClassManagerName);
  RegisterInstanceEntry();
  RegisterClassKey();
  std::string server = CreateTestFile(directory_, "Unterminated.dll");
  RegisterServer(REG_SZ, server);
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_FALSE(FileExists(server));
}

TEST_F(RemovalScenarioTest, EmptyServerPathDeletesNoFile) {
  RegisterManager(ClassManagerName);
  RegisterClassKey();
  RegisterServer(REG_SZ, std::string(1, '\0'));
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before, false), Snapshot());
  EXPECT_TRUE(FileExists(neighbour_));
}

// The stored path is read the way the system reads every path: "/" for
// "\", runs of separators as one, and a last component's trailing dots and
// spaces dropped. Each spelling names the same file, which goes.
struct Spelling {
  const char* name;
  std::string (*spell)(const std::string& directory, const std::string& file);
};

class ServerPathSpellingTest : public test_support::RemovalFixture,
                               public ::testing::WithParamInterface<Spelling> {};

TEST_P(ServerPathSpellingTest, NamesTheSameFile) {
  RegisterManager(ClassManagerName);
  RegisterInstanceEntry();
  RegisterClassKey();
  std::string server = CreateTestFile(directory_, "Spelled Server.dll");
  RegisterServer(REG_SZ, GetParam().spell(directory_, "Spelled Server.dll") + '\0');
  auto before = Snapshot();
  RunRemoval();
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_FALSE(FileExists(server));
  EXPECT_TRUE(FileExists(neighbour_));
}

std::string ForwardSlashes(const std::string& directory, const std::string& file) {
  std::string path = directory + "\\" + file;
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}
std::string DoubledSeparator(const std::string& directory, const std::string& file) {
  return directory + "\\\\" + file;
}
std::string TrailingDot(const std::string& directory, const std::string& file) {
  return directory + "\\" + file + ".";
}
std::string TrailingDotsAndSpaces(const std::string& directory, const std::string& file) {
  return directory + "\\" + file + ". .";
}
std::string DotSegments(const std::string& directory, const std::string& file) {
  return directory + "\\Missing\\..\\.\\" + file;
}

INSTANTIATE_TEST_SUITE_P(Spellings, ServerPathSpellingTest,
                         ::testing::Values(Spelling{"ForwardSlashes", ForwardSlashes},
                                           Spelling{"DoubledSeparator", DoubledSeparator},
                                           Spelling{"TrailingDot", TrailingDot},
                                           Spelling{"TrailingDotsAndSpaces", TrailingDotsAndSpaces},
                                           Spelling{"DotSegments", DotSegments}),
                         [](const ::testing::TestParamInfo<Spelling>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
