// Process entry of the Windows program, in place of main and of the C
// runtime's start-up code. The program needs nothing that start-up code
// prepares: it reads no command line, uses no standard streams, allocates
// nothing and has no object that is constructed before the run (the image
// check in tests/e2e keeps it so). Leaving it out keeps the program small
// and its imports few.

#include "platform/platform.h"
#include "removal/removal_run.h"

// Named as the entry point at link time (cmake/win32-program.cmake). The
// system gives no stack alignment beyond 4 bytes; the attribute makes the
// code below free to assume the compiler's own.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void ProcessEntry() {
  ExitProcess(static_cast<UINT>(RunRemoval()));
}
