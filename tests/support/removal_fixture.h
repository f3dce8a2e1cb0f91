// A registry and file table before the run, the run, and the whole class
// root compared after it: shared by the scenario tests of both builds and
// the host's fault scenarios, whose rows (Scenario) one function runs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "removal/removal_run.h"

namespace test_support {

struct Scenario;

// Public, so that the rows of a scenario table can arrange their registry.
class RemovalFixture : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  // "CLSID\<name>".
  static std::string ClassPath(const std::string& name);

  // A class manager of this test's own, named so that it comes before any
  // other in enumeration order, with one other filter below "Instance".
  void RegisterManager(const std::string& defaultValue = ClassManagerName);
  // The filter's entry below the manager's "Instance" key, with a sub-key.
  void RegisterInstanceEntry();
  // The filter's class key, three levels deep with values at each level,
  // without "InprocServer32".
  void RegisterClassKey();
  // "InprocServer32" with a default value of this type and these bytes.
  void RegisterServer(DWORD type, const std::string& bytes);
  // The whole registration: entry, class key and a REG_SZ server path to an
  // existing file (returned), beside a neighbour file.
  std::string RegisterWholeFilter();

  std::string InstanceEntryPath() const;
  // The class root as text.
  std::vector<std::string> Snapshot() const;
  // `before` less the filter's class key and, when `instanceEntry`, its
  // entry below this test's manager.
  std::vector<std::string> ExpectedAfter(const std::vector<std::string>& before,
                                         bool instanceEntry = true) const;
  // Runs one row: its arrangement, the run, the checks below Scenario.
  void RunScenario(const Scenario& row);
  // The run and those checks for a registry already arranged; the second
  // run only when `twice` (under Wine each snapshot of the class root takes
  // a while).
  void RunAndCheck(const std::string& server, bool entryGoes, bool fileGoes,
                   void (*check)(RemovalFixture& t) = nullptr, bool twice = false);

  std::string manager_;
  std::string directory_;
  std::string neighbour_;
};

// A whole run as a table row. After the run the class root is the one
// before less the filter's class key and, when `entryGoes`, its instance
// entry below the test's manager; the server file that `arrange` returns
// ("" for none) is gone when `fileGoes`, else still there; the neighbour
// file stays; `check` (when given) holds; and a second run changes nothing
// (on the host, where that is cheap).
struct Scenario {
  const char* name;
  std::string (*arrange)(RemovalFixture& t);
  bool entryGoes;
  bool fileGoes;
  void (*check)(RemovalFixture& t) = nullptr;
};

// The row's name, for the parameterised tests' names.
std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info);

}  // namespace test_support
