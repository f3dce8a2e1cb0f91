// The class root and the generated files as text that does not depend on
// what the platform may order or name its own way: sub-keys sorted by
// upper-cased name, values by name, links shown as links (never followed)
// with their targets relative to the root, the file root and short names
// the platform made up replaced by placeholders.
#pragma once

#include <string>

#include "fidelity/registry_generator.h"

namespace fidelity {

std::string CanonicalDump(const Generated& generated, const Place& place);

// FNV-1a, 64 bits, as 16 hex digits.
std::string Hash(const std::string& text);

}  // namespace fidelity
