// short_path PATH: prints the system's short (8.3) form of an existing
// path. Wine makes up its own short names, so the end-to-end tests ask the
// system for them instead of guessing.

#include <cstdio>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  char shortPath[MAX_PATH];
  DWORD length = GetShortPathNameA(argv[1], shortPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  std::printf("%s\n", shortPath);
  return 0;
}
