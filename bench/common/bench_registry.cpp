#include "bench/common/bench_registry.h"

#include <cstdio>
#include <cstring>

#include "helpers/registry_writes.h"
#include "removal/removal_run.h"

namespace bench {

const char kLastClassKey[] = "{FFFFFFFF-FFFF-4FFF-BFFF-FFFFFFFFFFFF}";

namespace {

// Creates (or opens) `name` below `parent`; 0 on failure.
HKEY Create(HKEY parent, const char* name) {
  HKEY key = 0;
  return helpers::CreateKey(parent, name, &key) == ERROR_SUCCESS ? key : 0;
}

bool SetString(HKEY key, const char* name, const char* text) {
  return helpers::WriteString(key, name, text) == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const char* name, DWORD number) {
  return helpers::WriteValue(key, name, REG_DWORD,
                             std::string(reinterpret_cast<const char*>(&number), sizeof number)) ==
         ERROR_SUCCESS;
}

void KeyName(char* out, size_t size, int index) { std::snprintf(out, size, "key%d", index); }

// Creates `name` below `parent` and closes it again.
bool CreateLeaf(HKEY parent, const char* name) {
  HKEY key = Create(parent, name);
  if (!key) return false;
  RegCloseKey(key);
  return true;
}

bool BuildWide(HKEY root, int keys) {
  char name[32];
  for (int i = 1; i < keys; ++i) {
    KeyName(name, sizeof name, i);
    if (!CreateLeaf(root, name)) return false;
  }
  return true;
}

bool BuildDeep(HKEY root, int keys) {
  char name[32];
  int made = 1;
  while (made < keys) {
    HKEY level = root;
    for (int depth = 0; depth < kChainDepth && made < keys; ++depth, ++made) {
      KeyName(name, sizeof name, made);
      HKEY next = Create(level, name);
      if (level != root) RegCloseKey(level);
      if (!next) return false;
      level = next;
    }
    if (level != root) RegCloseKey(level);
  }
  return true;
}

// Key `index` of the complete tree of fan-out 10 with `keys` keys: its
// values, then its sub-keys 10 * index + 1 to 10 * index + 10, depth first.
bool BuildValuesBelow(HKEY key, int index, int keys) {
  char text[48];
  std::snprintf(text, sizeof text, "benchmark key %d", index);
  if (!SetString(key, "", text)) return false;
  for (int v = 0; v < kValuesPerKey; ++v) {
    char valueName[16];
    std::snprintf(valueName, sizeof valueName, "Value%d", v);
    bool ok = v % 2 ? SetNumber(key, valueName, static_cast<DWORD>(index))
                    : SetString(key, valueName, text);
    if (!ok) return false;
  }
  for (int child = 10 * index + 1; child <= 10 * index + 10 && child < keys; ++child) {
    char name[32];
    KeyName(name, sizeof name, child);
    HKEY sub = Create(key, name);
    if (!sub) return false;
    bool ok = BuildValuesBelow(sub, child, keys);
    RegCloseKey(sub);
    if (!ok) return false;
  }
  return true;
}

}  // namespace

const char* ShapeName(Shape shape) {
  switch (shape) {
    case Shape::Wide:
      return "wide";
    case Shape::Deep:
      return "deep";
    case Shape::Values:
      return "values";
  }
  return "?";
}

bool BuildTree(HKEY parent, const char* name, Shape shape, int keys) {
  HKEY root = Create(parent, name);
  if (!root) return false;
  bool ok = false;
  switch (shape) {
    case Shape::Wide:
      ok = BuildWide(root, keys);
      break;
    case Shape::Deep:
      ok = BuildDeep(root, keys);
      break;
    case Shape::Values:
      ok = BuildValuesBelow(root, 0, keys);
      break;
  }
  RegCloseKey(root);
  return ok;
}

bool AddClassKeys(HKEY classRoot, int count) {
  for (int i = 0; i < count; ++i) {
    char name[48];
    char text[48];
    std::snprintf(name, sizeof name, "{00000000-BE0C-4E2A-9B7F-%012X}", static_cast<unsigned>(i));
    std::snprintf(text, sizeof text, "Benchmark class %d", i);
    HKEY key = Create(classRoot, name);
    if (!key) return false;
    bool ok = SetString(key, "", text);
    RegCloseKey(key);
    if (!ok) return false;
  }
  return true;
}

bool AddClassManagerLast(HKEY classRoot) {
  HKEY key = Create(classRoot, kLastClassKey);
  if (!key) return false;
  bool ok = SetString(key, "", ClassManagerName);
  RegCloseKey(key);
  return ok;
}

bool FloorLookup(HKEY classRoot, REGSAM access, char* name, int* visited) {
  if (visited) *visited = 0;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = kNameBufferLength;
    if (RegEnumKeyExA(classRoot, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return false;
    if (visited) ++*visited;
    HKEY key = 0;
    if (RegOpenKeyExA(classRoot, name, 0, access, &key) != ERROR_SUCCESS) continue;
    char value[kNameBufferLength];
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    bool matched = false;
    if (RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
      value[size] = 0;
      matched = EqualsIgnoringAsciiCase(value, ClassManagerName);
    }
    RegCloseKey(key);
    if (matched) return true;
  }
}

}  // namespace bench
