#include "removal/redirection_guard.h"

#include "platform/system_function.h"

namespace {

typedef BOOL(WINAPI* SetMitigationPolicyFunction)(PROCESS_MITIGATION_POLICY, LPVOID, SIZE_T);

}  // namespace

void EnableRedirectionGuard() {
  SetMitigationPolicyFunction setPolicy = FindSystemFunction<SetMitigationPolicyFunction>(
      GetModuleHandleA("kernel32"), "SetProcessMitigationPolicy");
  if (!setPolicy) return;
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
  policy.EnforceRedirectionTrust = 1;
  // Refused on a system that knows the call but not this policy: ignored.
  setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
}
