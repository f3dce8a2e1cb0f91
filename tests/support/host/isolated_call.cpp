#include "support/isolated_call.h"

namespace test_support {

// The stand-in is this process's own code: the call runs here.
IsolatedOutcome MakeIsolatedCall(IsolatedCall call, const std::string& argument) {
  IsolatedOutcome outcome;
  outcome.status = call(argument);
  outcome.platform = "the in-memory stand-in";
  return outcome;
}

}  // namespace test_support
