#include "fidelity/sandbox.h"

#include "platform/host/standin_control.h"

namespace fidelity {

Place BeginSeed(uint32_t seed) {
  standin::Reset();
  Place place{standin::kClassesRootNtPath, "C:\\rf-fidelity"};
  CreateDirectoryA(place.fileRoot.c_str(), nullptr);
  place.fileRoot += "\\" + std::to_string(seed);
  CreateDirectoryA(place.fileRoot.c_str(), nullptr);
  return place;
}

void EndAll() { standin::Reset(); }

}  // namespace fidelity
