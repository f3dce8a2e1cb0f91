// The host program's process entry (main.cpp, built here under another
// name): it runs the whole removal and exits with 0. Runs on both builds.

#include <gtest/gtest.h>

#include "removal/removal_run.h"
#include "support/removal_fixture.h"
#include "support/test_files.h"
#include "support/test_registry.h"

int ProgramEntry();

namespace {

class ProgramEntryTest : public test_support::RemovalFixture {};

TEST_F(ProgramEntryTest, RemovesTheFilterAndExitsWithZero) {
  RegisterManager();
  std::string server = RegisterWholeFilter();
  auto before = Snapshot();
  EXPECT_EQ(0, ProgramEntry());
  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_FALSE(test_support::FileExists(server));
}

}  // namespace
