// A platform call of a test's own that some release of the platform crashes
// in, made so that a crash ends only that call: under Wine in a process of
// its own (this test program started again to make only the call), on the
// stand-in in this process. Never for the program's own calls: a crash in a
// run of the program fails its test wherever it happens.
#pragma once

#include <string>

#include "platform/platform.h"

namespace test_support {

// The call: a function of this program that makes it with `argument` (a
// key's path, say) and returns its status. It may run in a process where
// nothing but the program's start-up ran: it must rely on nothing else.
using IsolatedCall = LONG (*)(const std::string& argument);

struct IsolatedOutcome {
  bool crashed = false;  // the call ended its process
  LONG status = 0;       // what it returned, when it did not crash
  std::string platform;  // the platform and its release, e.g. "wine-10.0 (Debian ...)"
  bool platformIsWine = false;
  std::string crash;  // how the process ended, and the start of what it printed
};

// Makes `call(argument)` where a crash cannot take this process with it.
// Fails the test (and gives crashed = false, status -1) when the call
// could not be made or did not end.
IsolatedOutcome MakeIsolatedCall(IsolatedCall call, const std::string& argument);

// Expects `call(argument)` to return `expected`. Where a Wine release
// crashes in the call instead, that is the release's behaviour, not the
// program's: it is printed with the release and recorded as the test's
// property "platform_crash", and the test goes on. A crash anywhere else
// fails the test. `what` names the call in either message.
void ExpectStatusOrWineCrash(LONG expected, IsolatedCall call, const std::string& argument,
                             const std::string& what);

}  // namespace test_support
