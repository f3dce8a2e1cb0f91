// The platform's redirection guard for the run's own process.
#pragma once

// Where kernel32 has SetProcessMitigationPolicy, asks for the redirection
// trust policy with enforcement: the process no longer follows junctions
// and links that a user without elevation made. A system without it, or
// one that refuses it, leaves the process as it was.
void EnableRedirectionGuard();
