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

using test_support::CreateTestFile;
using test_support::KeyExists;
using test_support::RemovalFixture;
using test_support::Scenario;

// The test's manager, the filter's entry and its class key, with a server
// file `name` whose path is stored as `spell(directory, name)` in a value
// of `type`, terminated unless `terminated` is false; returns the file.
std::string RegisterServerFile(RemovalFixture& t, const std::string& name, DWORD type,
                               std::string (*spell)(const std::string&, const std::string&),
                               bool terminated = true) {
  t.RegisterManager();
  t.RegisterInstanceEntry();
  t.RegisterClassKey();
  std::string server = CreateTestFile(t.directory_, name);
  std::string stored = spell(t.directory_, name);
  t.RegisterServer(type, terminated ? stored + '\0' : stored);
  return server;
}

// The stored path is read the way the system reads every path: "/" for
// "\", runs of separators as one, and a last component's trailing dots and
// spaces dropped. Each spelling names the same file, which goes.
std::string AsIs(const std::string& directory, const std::string& file) {
  return directory + "\\" + file;
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

std::string ShortForm(const std::string& directory, const std::string& file) {
  std::string shortPath = test_support::ShortPathOf(directory + "\\" + file);
  EXPECT_NE(directory + "\\" + file, shortPath);
  return shortPath;
}

const Scenario kScenarios[] = {
    {"WholeFilterRegistered",
     [](RemovalFixture& t) {
       t.RegisterManager();
       return t.RegisterWholeFilter();
     },
     true, true,
     [](RemovalFixture& t) {
       EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, t.ClassPath(t.manager_) + "\\Instance"));
     }},
    {"ManagerMatchedInOtherLetterCase",
     [](RemovalFixture& t) {
       t.RegisterManager("ACTIVEMOVIE filter CLASS manager");
       return t.RegisterWholeFilter();
     },
     true, true},
    {"ManagerWithoutTheFiltersEntry",
     [](RemovalFixture& t) {
       t.RegisterManager();
       t.RegisterClassKey();
       std::string server = CreateTestFile(t.directory_, "Server.dll");
       t.RegisterServer(REG_SZ, server + '\0');
       return server;
     },
     false, true},
    // Trailing blank: no match, so its "Instance" key is left alone.
    {"KeyWithTheManagersNameInOtherWordsIsNotTheManager",
     [](RemovalFixture& t) {
       t.RegisterManager("ActiveMovie Filter Class Manager ");
       return t.RegisterWholeFilter();
     },
     false, true,
     [](RemovalFixture& t) { EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, t.InstanceEntryPath())); }},
    {"OnlyTheInstanceEntry",
     [](RemovalFixture& t) {
       t.RegisterManager();
       t.RegisterInstanceEntry();
       return std::string();
     },
     true, true},
    {"OnlyTheClassKey",
     [](RemovalFixture& t) {
       t.RegisterManager();
       t.RegisterClassKey();
       return std::string();
     },
     true, true},
    {"ClassKeyWithoutServerKey",
     [](RemovalFixture& t) {
       t.RegisterManager();
       t.RegisterInstanceEntry();
       t.RegisterClassKey();
       return std::string();
     },
     true, true},
    {"ServerPathStoredInShortForm",
     [](RemovalFixture& t) {
       return RegisterServerFile(t, "Long Server Name.dll", REG_SZ, ShortForm);
     },
     true, true},
    {"ServerFileAlreadyMissing",
     [](RemovalFixture& t) {
       t.RegisterManager();
       t.RegisterInstanceEntry();
       t.RegisterClassKey();
       t.RegisterServer(REG_SZ, t.directory_ + "\\Not There.dll" + '\0');
       return std::string();
     },
     true, true},
    {"ServerPathOfAnotherTypeLeavesTheFile",
     [](RemovalFixture& t) {
       return RegisterServerFile(t, "Expand Server.dll", REG_EXPAND_SZ, AsIs);
     },
     true, false},
    {"ServerPathWithoutTerminator",
     [](RemovalFixture& t) {
       return RegisterServerFile(t, "Unterminated.dll", REG_SZ, AsIs, false);
     },
     true, true},
    {"EmptyServerPathDeletesNoFile",
     [](RemovalFixture& t) {
       t.RegisterManager();
       t.RegisterClassKey();
       t.RegisterServer(REG_SZ, std::string(1, '\0'));
       return std::string();
     },
     false, true},
    {"SpelledWithForwardSlashes",
     [](RemovalFixture& t) {
       return RegisterServerFile(t, "Spelled Server.dll", REG_SZ, ForwardSlashes);
     },
     true, true},
    {"SpelledWithDoubledSeparator",
     [](RemovalFixture& t) {
       return RegisterServerFile(t, "Spelled Server.dll", REG_SZ, DoubledSeparator);
     },
     true, true},
    {"SpelledWithTrailingDot",
     [](RemovalFixture& t) {
       return RegisterServerFile(t, "Spelled Server.dll", REG_SZ, TrailingDot);
     },
     true, true},
    {"SpelledWithTrailingDotsAndSpaces",
     [](RemovalFixture& t) {
       return RegisterServerFile(t, "Spelled Server.dll", REG_SZ, TrailingDotsAndSpaces);
     },
     true, true},
    {"SpelledWithDotSegments",
     [](RemovalFixture& t) {
       return RegisterServerFile(t, "Spelled Server.dll", REG_SZ, DotSegments);
     },
     true, true},
};

class RemovalScenarioTest : public RemovalFixture,
                            public ::testing::WithParamInterface<Scenario> {};

TEST_P(RemovalScenarioTest, LeavesOnlyItsTargetsGone) { RunScenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Rows, RemovalScenarioTest, ::testing::ValuesIn(kScenarios),
                         test_support::ScenarioName);

}  // namespace
