// The filter that the program removes as the tests and tools register it.
#pragma once

namespace helpers {

// The filter's class identifier, written here on its own and not taken
// from the program (removal_run.h): the registries built with it check
// that the program holds the right one.
inline constexpr char kFilterClsid[] = "{3A7D52C8-6E19-4B2F-9C04-71E5D8A0B6F3}";
// A second filter registered beside it below the same class manager, which
// every run must leave.
inline constexpr char kOtherFilterClsid[] = "{5E0F4A31-9B2C-4D7E-8A16-C3F09B2D4E58}";
// A filter's registration data as its installer writes it: version 2,
// merit 0x200000 (normal), no pins; 8 bytes.
inline constexpr char kFilterData[] = "\2\0\0\0\0\0\x20\0";
inline constexpr unsigned kFilterDataSize = 8;

}  // namespace helpers
