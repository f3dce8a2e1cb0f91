// The one place that knows which platform the program is built for.
//
// On Windows this is the system's own API. Everywhere else it is the
// in-memory stand-in, which declares the same types, constants and
// narrow-character functions under the same names, so that the code above
// this seam compiles unchanged on both.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/host/host_windows.h"
#endif
