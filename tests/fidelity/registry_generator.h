// A registry and a few files made from a seed through the platform's own
// calls (RegCreateKeyExA, RegSetValueExA, link creation, CreateDirectoryA,
// CreateFileA), so that one seed makes the same registry on the stand-in
// and on Windows: class keys below "CLSID" (thousands for a few seeds),
// class managers in several letter cases and enumeration places, decoys,
// instance entries, the filter's class key as a random tree with values of
// every type and names up to and past the limits, "InprocServer32" naming
// files of every kind, and links pointing out of the trees and back up.
//
// Names keep to characters that sort the same under Windows' upper-cased
// and Wine's lower-cased ordering (no [ \ ] ^ _ or backtick), so that
// enumeration order, on which the run may depend, is the same on both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fidelity {

// Where the generated registry and files live on this build.
struct Place {
  // The kernel's path of what the run sees as HKEY_CLASSES_ROOT, for link
  // targets ("\Registry\Machine\Software\Classes..." ).
  std::string rootNtPath;
  // An existing, empty directory for the seed's files ("C:\...").
  std::string fileRoot;
};

struct Generated {
  // The platform (or the generator, for names the real registry cannot
  // hold) refused the registry; the seed is skipped and `reason` says why.
  bool refused = false;
  std::string reason;
  // A few lines: what the seed made, for a mismatch report.
  std::string description;
  // Every file and directory made or named, relative to the file root.
  std::vector<std::string> files;
  // Text the platform chose (short names) and its stand-in in the dump.
  std::vector<std::pair<std::string, std::string>> replacements;
};

Generated Generate(uint32_t seed, const Place& place);

}  // namespace fidelity
