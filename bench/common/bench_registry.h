// Registry contents for the benchmarks, built through the platform's own
// calls so that the host and the Windows benchmark programs time the same
// shapes. Every builder works below an open key and returns whether every
// call succeeded.
#pragma once

#include "platform/platform.h"

namespace bench {

// The tree shapes whose deletion is timed. Each has exactly the number of
// keys asked for, its own root included.
enum class Shape {
  Wide,    // the root and all other keys as its direct sub-keys
  Deep,    // the root and below it chains of kChainDepth keys, one below the other
  Values,  // a tree of fan-out 10, every key with a default and kValuesPerKey named values
};

// Depth of each chain of the deep shape: deep enough that the cost of each
// level shows, and well inside the registry's limit of 512 levels.
const int kChainDepth = 100;
// Named values of every key of the Values shape (the default value comes on top).
const int kValuesPerKey = 10;

const char* ShapeName(Shape shape);

// Builds the tree `name` of `keys` keys below `parent`.
bool BuildTree(HKEY parent, const char* name, Shape shape, int keys);

// Adds `count` class keys with GUID-form names that sort before the class
// keys a machine holds ("{00000000-BE0C-...}"), each with a default value
// that is not the class manager's name.
bool AddClassKeys(HKEY classRoot, int count);

// Name of the class key AddClassManagerLast adds: the last name of any
// class root in enumeration order.
extern const char kLastClassKey[];
// Adds kLastClassKey with the class manager's name as default value.
bool AddClassManagerLast(HKEY classRoot);

// The floor of the class-manager lookup: only the calls it must make for
// each class key below `classRoot` (enumerate, open with `access`, read the
// default value, close) and the comparison, on raw handles. Stops at the
// first class manager, whose name is left in `name` (kNameBufferLength
// bytes); returns whether one was found. Counts the keys enumerated in
// `visited` when given.
bool FloorLookup(HKEY classRoot, REGSAM access, char* name, int* visited = nullptr);

}  // namespace bench
