// The sample filter as the media framework knows it: its class (the one the
// program removes), the media types of its pins, and its registration as its
// own module's self-registration and the tests' helpers write it.

#ifndef RF_TESTS_E2E_SAMPLE_FILTER_H_
#define RF_TESTS_E2E_SAMPLE_FILTER_H_

#include <windows.h>

inline constexpr CLSID kFilter = {
    0x3A7D52C8, 0x6E19, 0x4B2F, {0x9C, 0x04, 0x71, 0xE5, 0xD8, 0xA0, 0xB6, 0xF3}};
inline constexpr char kFilterKey[] = "CLSID\\{3A7D52C8-6E19-4B2F-9C04-71E5D8A0B6F3}";
// The compressed format that the sample filter decodes: the subtype of the
// four-character code "SMPL". Its input pin takes video of this subtype.
inline constexpr GUID kSampleSubtype = {
    0x4C504D53, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Writes the class key below HKEY_CLASSES_ROOT with InprocServer32 (default
// value `server`, ThreadingModel Both), as a component's self-registration
// does, then registers the filter (`name`) in the category of ordinary
// filters through IFilterMapper2: its merit, its input pin and its output
// pin with their media types. COM must be initialised on the calling thread.
// Returns S_OK, or the first failure's HRESULT (a registry error as one),
// named on stderr.
HRESULT RegisterSampleFilter(const char* server, const char* name);

// Undoes it: the filter's entry through IFilterMapper2, then the class key
// with everything below it. A registration that is not there is no failure.
HRESULT UnregisterSampleFilter();

#endif  // RF_TESTS_E2E_SAMPLE_FILTER_H_
