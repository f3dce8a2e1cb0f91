#include "removal/redirection_guard.h"

#include "platform/platform.h"

namespace {

typedef BOOL(WINAPI* SetMitigationPolicyFunction)(PROCESS_MITIGATION_POLICY, LPVOID, SIZE_T);

}  // namespace

void EnableRedirectionGuard() {
  FARPROC proc = GetProcAddress(GetModuleHandleA("kernel32"), "SetProcessMitigationPolicy");
  // Through a generic function pointer: the two signatures differ.
  SetMitigationPolicyFunction setPolicy =
      reinterpret_cast<SetMitigationPolicyFunction>(reinterpret_cast<void (*)()>(proc));
  if (!setPolicy) return;
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
  policy.EnforceRedirectionTrust = 1;
  // Refused on a system that knows the call but not this policy: ignored.
  setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
}
