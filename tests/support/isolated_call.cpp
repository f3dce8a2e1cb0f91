#include "support/isolated_call.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace test_support {

void ExpectStatusOrWineCrash(LONG expected, IsolatedCall call, const std::string& argument,
                             const std::string& what) {
  IsolatedOutcome outcome = MakeIsolatedCall(call, argument);
  if (!outcome.crashed) {
    EXPECT_EQ(expected, outcome.status) << what << " (" << argument << ")";
    return;
  }
  if (!outcome.platformIsWine) {
    ADD_FAILURE() << what << " (" << argument << ") crashed on " << outcome.platform << ": "
                  << outcome.crash;
    return;
  }
  std::string report = what + " crashed in " + outcome.platform + " (" + outcome.crash +
                       "), where " + std::to_string(expected) +
                       " was expected: this Wine release's behaviour, not the program's";
  std::printf("[ PLATFORM ] %s\n", report.c_str());
  std::fflush(stdout);
  ::testing::Test::RecordProperty("platform_crash", report);
}

}  // namespace test_support
