// A real 32-bit module for the end-to-end tests to put in a filter's place:
// a server file that another process has loaded.

extern "C" __declspec(dllexport) int SampleFilterVersion() { return 1; }
