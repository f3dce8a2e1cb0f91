// A registry and file table before the run, the run, and the whole class
// root compared after it: shared by the scenario tests of both builds and
// the host's fault scenarios.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace test_support {

class RemovalFixture : public ::testing::Test {
 public:
  // The class identifier of the other filter below the manager's "Instance".
  static const char OtherFilterClsid[];

 protected:
  void SetUp() override;
  void TearDown() override;

  // "CLSID\<name>".
  static std::string ClassPath(const std::string& name);

  // A class manager of this test's own, named so that it comes before any
  // other in enumeration order, with one other filter below "Instance".
  void RegisterManager(const std::string& defaultValue);
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

  std::string manager_;
  std::string directory_;
  std::string neighbour_;
};

}  // namespace test_support
