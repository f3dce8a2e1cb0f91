// Whole runs: a registry and files before, the run, and the whole class
// root and the files after. Every scenario also proves that nothing beside
// the three targets changed, and that a second run changes nothing. Runs on
// both builds (under Wine against the prefix's real class root, whose own
// class manager comes after ours).

#include <gtest/gtest.h>

#include <string>

#include "removal/removal_run.h"
#include "support/removal_fixture.h"
#include "support/test_files.h"
#include "support/test_registry.h"

namespace {

using test_support::RemovalFixture;

// How the registered path names the server file in `directory`.
std::string AsIs(const std::string& directory, const std::string& file) {
  return directory + "\\" + file;
}
// The stored path is read the way the system reads every path: "/" for
// "\", runs of separators as one, and a last component's trailing dots and
// spaces dropped. Each spelling names the same file, which goes.
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

std::string ShortForm(const std::string& directory, const std::string& file) {
  std::string shortPath = test_support::ShortPathOf(directory + "\\" + file);
  EXPECT_NE(directory + "\\" + file, shortPath);
  return shortPath;
}
std::string OtherFile(const std::string& directory, const std::string&) {
  return directory + "\\Not There.dll";
}
std::string Empty(const std::string&, const std::string&) { return ""; }

// A scenario: the test's class manager with the default value `manager`,
// the filter's instance entry and class key as asked, and, unless
// `serverType` is REG_NONE, "InprocServer32" holding `stored(directory,
// file)` (terminated unless `terminated` is false) beside a new file; what
// must go is below RemovalFixture::RunAndCheck.
struct Row {
  const char* name;
  const char* manager;
  bool entry, classKey;
  DWORD serverType;
  std::string (*stored)(const std::string& directory, const std::string& file);
  bool entryGoes, fileGoes;
  bool terminated = true;
  bool twice = false;  // a second run changes nothing
};

const char* const kManager = ClassManagerName;
const Row kRows[] = {
    {"WholeFilterRegistered", kManager, true, true, REG_SZ, AsIs, true, true, true, true},
    {"ManagerMatchedInOtherLetterCase", "ACTIVEMOVIE filter CLASS manager", true, true, REG_SZ,
     AsIs, true, true},
    {"ManagerWithoutTheFiltersEntry", kManager, false, true, REG_SZ, AsIs, false, true},
    // Trailing blank: no match, so its "Instance" key is left alone.
    {"KeyWithTheManagersNameInOtherWordsIsNotTheManager", "ActiveMovie Filter Class Manager ", true,
     true, REG_SZ, AsIs, false, true},
    {"OnlyTheInstanceEntry", kManager, true, false, REG_NONE, nullptr, true, true},
    {"OnlyTheClassKey", kManager, false, true, REG_NONE, nullptr, true, true},
    {"ClassKeyWithoutServerKey", kManager, true, true, REG_NONE, nullptr, true, true},
    {"ServerPathStoredInShortForm", kManager, true, true, REG_SZ, ShortForm, true, true},
    // The file beside the one named stays.
    {"ServerFileAlreadyMissing", kManager, true, true, REG_SZ, OtherFile, true, false},
    {"ServerPathOfAnotherTypeLeavesTheFile", kManager, true, true, REG_EXPAND_SZ, AsIs, true,
     false},
    {"ServerPathWithoutTerminator", kManager, true, true, REG_SZ, AsIs, true, true, false},
    {"EmptyServerPathDeletesNoFile", kManager, false, true, REG_SZ, Empty, false, false},
    {"SpelledWithForwardSlashes", kManager, true, true, REG_SZ, ForwardSlashes, true, true},
    {"SpelledWithDoubledSeparator", kManager, true, true, REG_SZ, DoubledSeparator, true, true},
    {"SpelledWithTrailingDot", kManager, true, true, REG_SZ, TrailingDot, true, true},
    {"SpelledWithTrailingDotsAndSpaces", kManager, true, true, REG_SZ, TrailingDotsAndSpaces, true,
     true},
    {"SpelledWithDotSegments", kManager, true, true, REG_SZ, DotSegments, true, true},
};

class RemovalScenarioTest : public RemovalFixture, public ::testing::WithParamInterface<Row> {};

TEST_P(RemovalScenarioTest, LeavesOnlyItsTargetsGone) {
  const Row& row = GetParam();
  RegisterManager(row.manager);
  if (row.entry) RegisterInstanceEntry();
  if (row.classKey) RegisterClassKey();
  std::string server;
  if (row.serverType != REG_NONE) {
    server = test_support::CreateTestFile(directory_, "Sample Filter Server.dll");
    std::string stored = row.stored(directory_, "Sample Filter Server.dll");
    RegisterServer(row.serverType, row.terminated ? stored + '\0' : stored);
  }
  RunAndCheck(server, row.entryGoes, row.fileGoes, nullptr, row.twice);
  // The manager's own "Instance" key and its other filter stay.
  EXPECT_TRUE(test_support::KeyExists(HKEY_CLASSES_ROOT, ClassPath(manager_) + "\\Instance"));
}

INSTANTIATE_TEST_SUITE_P(Rows, RemovalScenarioTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
